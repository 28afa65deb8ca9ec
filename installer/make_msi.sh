#!/usr/bin/env bash
# Builds the signed per-user MSI from the release bundle: stages the files,
# splits the symbols off what this project built, signs the executable and
# libraries, builds the package with wixl, signs it and verifies every
# signature. The msi target (installer/CMakeLists.txt) runs it:
#   make_msi.sh --version a.b.c.d --display-version a.b.c+d --bundle DIR
#               --engine DIR|"" --icon FILE --work DIR --out DIR
#               --auth-base URL
# The tools come from ORVALIN_WIXL, ORVALIN_OSSLSIGNCODE, ORVALIN_OPENSSL,
# ORVALIN_PYTHON, ORVALIN_OBJCOPY, ORVALIN_MSIBUILD and ORVALIN_MSIINFO (or
# PATH).
#
# Signing, from the environment at build time:
#   ORVALIN_SIGN_PFX             the packager's code-signing certificate (.pfx)
#   ORVALIN_SIGN_PFX_PASSWORD    its password
#   ORVALIN_SIGN_TIMESTAMP_URL   a timestamp server (optional, real signing)
#   ORVALIN_SIGN_CA_FILE         the certificate's root, when the system's CA
#                                bundle lacks it (optional, for verifying)
# Without ORVALIN_SIGN_PFX a throwaway certificate made here signs the
# package, and the output says it is test-signed.
#
# On success <work>/package.env describes the package (MSI, VERSION, ENGINE,
# SIGNING, CA, SYMBOLS, AUTH_BASE: the sign-in base built in); on any failure no MSI is left under the package's name.
set -euo pipefail
installer=$(cd "$(dirname "$0")" && pwd)
wixl=${ORVALIN_WIXL:-wixl}
osslsigncode=${ORVALIN_OSSLSIGNCODE:-osslsigncode}
openssl=${ORVALIN_OPENSSL:-openssl}
python=${ORVALIN_PYTHON:-python3}
objcopy=${ORVALIN_OBJCOPY:-x86_64-w64-mingw32-objcopy}

die() { echo "package: $*" >&2; exit 1; }

version='' display='' bundle='' engine='' icon='' work='' out='' auth_base=''
while (($#)); do
  case $1 in
    --version) version=$2 ;;
    --display-version) display=$2 ;;
    --bundle) bundle=$2 ;;
    --engine) engine=$2 ;;
    --icon) icon=$2 ;;
    --work) work=$2 ;;
    --out) out=$2 ;;
    --auth-base) auth_base=$2 ;;
    *) die "unknown argument $1" ;;
  esac
  shift 2
done
[[ -n $version && -n $display && -n $bundle && -n $icon && -n $work &&
   -n $out && -n $auth_base ]] || die "make_msi.sh needs --version, \
--display-version, --bundle, --icon, --work, --out and --auth-base"

suffix=''
if [[ -n $engine ]]; then
  kind=real
  engine_files=$engine
else
  kind=dev
  suffix=-dev
  engine_files=$bundle
  echo "package: no engine folder named (ORVALIN_ENGINE_DIR): packaging the" \
    "development stand-ins; the file name says -dev"
fi
name="OrvalinAI-$display$suffix.msi"
final="$out/$name"
symbols="$out/OrvalinAI-$display$suffix-symbols"
mkdir -p "$out" "$work"
# Whatever happens below, no older or half-made package keeps this name.
rm -f "$final" "$work/package.env"
secrets=$(mktemp -d)
trap 'rm -rf "$secrets"' EXIT

# ------------------------------------------------------------ signing identity
if [[ -n ${ORVALIN_SIGN_PFX:-} ]]; then
  signing=real
  pfx=$ORVALIN_SIGN_PFX
  [[ -f $pfx && -r $pfx ]] ||
    die "cannot open the signing certificate $pfx (ORVALIN_SIGN_PFX): no such readable file"
  # The password travels in a private file, never on a command line. Both
  # readers take its first line; an empty file they refuse.
  (umask 077 && printf '%s\n' "${ORVALIN_SIGN_PFX_PASSWORD:-}" \
    >"$secrets/password")
  opened=0
  for legacy in "" -legacy; do
    if "$openssl" pkcs12 $legacy -in "$pfx" -noout \
        -passin "file:$secrets/password" >/dev/null 2>&1; then
      opened=1
      break
    fi
  done
  ((opened)) || die "cannot open the signing certificate $pfx \
(ORVALIN_SIGN_PFX): not a PKCS#12 file, or the password \
(ORVALIN_SIGN_PFX_PASSWORD) is wrong"
  sign_with=(-pkcs12 "$pfx" -readpass "$secrets/password")
  if [[ -n ${ORVALIN_SIGN_TIMESTAMP_URL:-} ]]; then
    sign_with+=(-ts "$ORVALIN_SIGN_TIMESTAMP_URL")
  else
    echo "package: warning: no timestamp server (ORVALIN_SIGN_TIMESTAMP_URL):" \
      "the signatures will expire with the certificate"
  fi
  # A chain the system's CA bundle does not hold can be named for the check.
  verify_with=()
  ca=${ORVALIN_SIGN_CA_FILE:-}
  if [[ -n $ca ]]; then
    [[ -f $ca && -r $ca ]] ||
      die "cannot open the CA file $ca (ORVALIN_SIGN_CA_FILE): no such readable file"
    verify_with=(-CAfile "$ca")
  fi
else
  signing='test'
  cert="$work/test-cert"
  # Made once per tree, and again when it is about to expire.
  if [[ ! -f $cert/key.pem ]] || ! "$openssl" x509 -checkend 86400 -noout \
      -in "$cert/cert.pem" >/dev/null 2>&1; then
    mkdir -p "$cert"
    "$openssl" req -x509 -newkey rsa:2048 -nodes -days 365 \
      -keyout "$cert/key.pem" -out "$cert/cert.pem" \
      -subj "/CN=Orvalin AI test signing (not trusted)" \
      -addext extendedKeyUsage=codeSigning \
      -addext keyUsage=digitalSignature >/dev/null 2>&1 ||
      die "could not make a test certificate with $openssl"
  fi
  echo "package: no certificate named (ORVALIN_SIGN_PFX): signing with a" \
    "throwaway test certificate; the package is test-signed"
  sign_with=(-certs "$cert/cert.pem" -key "$cert/key.pem")
  # The test certificate is its own root.
  verify_with=(-CAfile "$cert/cert.pem")
  ca=$cert/cert.pem
fi

sign() {  # sign <in> <out>
  "$osslsigncode" sign "${sign_with[@]}" -h sha256 -n "Orvalin AI" \
    -in "$1" -out "$2" >"$secrets/sign.log" 2>&1 ||
    die "signing $(basename "$1") failed: $(tail -n 3 "$secrets/sign.log")"
}

verify() {  # verify <file> [-CAfile <trust>]
  local file=$1
  shift
  local with=("$@")
  ((${#with[@]})) || with=(${verify_with[@]+"${verify_with[@]}"})
  "$osslsigncode" verify ${with[@]+"${with[@]}"} -in "$file" \
    >"$secrets/verify.log" 2>&1 && digests_match "$secrets/verify.log" ||
    die "the signature of $(basename "$file") does not verify: \
$(grep -iE 'digest|error|fail' "$secrets/verify.log" | head -n 5)"
}

# The digest recorded at signing and the one computed now: the file is
# whole (the exit status also answers for the chain).
digests_match() {  # digests_match <verify log>
  local current calculated
  current=$(digest Current "$1")
  calculated=$(digest Calculated "$1")
  [[ -n $current && $current == "$calculated" ]]
}
digest() {  # digest Current|Calculated <verify log>
  grep -m1 -oE "^$1 (message digest|DigitalSignature) *: *[0-9A-Fa-f]+" "$2" |
    sed 's/.*: *//'
}

# A file signed before packaging (a vendor-signed engine) must be whole and
# chain to the system's CA bundle or to the CA named here.
presigned_trust=$secrets/presigned-trust.pem
cat /etc/ssl/certs/ca-certificates.crt ${ca:+"$ca"} >"$presigned_trust" \
  2>/dev/null || true

# -------------------------------------------------------------------- staging
stage="$work/stage"
rm -rf "$stage" "$symbols"
mkdir -p "$stage" "$symbols"
cp "$bundle/orvalin_ai.exe" "$stage/"
libraries=(flutter_windows.dll url_launcher_windows_plugin.dll
           video_player_win_plugin.dll)
for library in "${libraries[@]}"; do
  cp -L "$engine_files/$library" "$stage/"
done
cp -RL "$engine_files/data" "$stage/data"

# Symbols of what this project built go beside the package, not in it.
ours=(orvalin_ai.exe)
if [[ $kind == dev ]]; then
  ours+=("${libraries[@]}")
fi
# objcopy writes the time of day into a PE it rewrites, unless
# SOURCE_DATE_EPOCH names one: zero, as the linker leaves it, so the staged
# files stay the same bytes from build to build.
for file in "${ours[@]}"; do
  SOURCE_DATE_EPOCH=0 "$objcopy" --only-keep-debug "$stage/$file" \
    "$symbols/$file.debug"
  SOURCE_DATE_EPOCH=0 "$objcopy" --strip-all "$stage/$file"
  (cd "$symbols" && SOURCE_DATE_EPOCH=0 "$objcopy" \
    --add-gnu-debuglink="$file.debug" "$stage/$file")
done

# Everything without a signature of its own gets ours (a vendor-signed
# engine keeps its vendor's, once it verifies: ours then covers it).
for file in orvalin_ai.exe "${libraries[@]}"; do
  if "$osslsigncode" extract-signature -in "$stage/$file" \
      -out "$secrets/existing.sig" >/dev/null 2>&1; then
    verify "$stage/$file" -CAfile "$presigned_trust"
    echo "package: $file already carries a signature that verifies; left as it is"
    continue
  fi
  sign "$stage/$file" "$stage/$file.signed"
  mv "$stage/$file.signed" "$stage/$file"
  verify "$stage/$file"
done
# The shipped modules go beside the symbols too: a crash dump is unwound with
# the very files it names (scripts/symbolize.sh matches size and time stamp).
for file in orvalin_ai.exe "${libraries[@]}"; do
  cp "$stage/$file" "$symbols/$file"
done

# ------------------------------------------------------------------- package
# wixl reads sources relative to its working folder.
cp "$icon" "$work/app_icon.ico"
"$python" "$installer/data_files.py" fragment "$stage/data" "$work/data.wxs"
(cd "$work" && "$wixl" -a x64 -D "Version=$version" \
  -D "DisplayVersion=$display" -D Stage=stage -D Icon=app_icon.ico \
  -o "$work/unsigned.msi" "$installer/orvalin_ai.wxs" data.wxs) ||
  die "wixl could not build the package"
"$python" "$installer/data_files.py" names "$work/unsigned.msi" "$stage/data"
sign "$work/unsigned.msi" "$work/signed.msi"
verify "$work/signed.msi"
rm -f "$work/unsigned.msi"
# Moved in whole: the package's name only ever names a signed package.
mv "$work/signed.msi" "$out/.$name.partial"
mv "$out/.$name.partial" "$final"

cat >"$work/package.env" <<EOF
MSI=$final
VERSION=$display
ENGINE=$kind
SIGNING=$signing
CA=$ca
SYMBOLS=$symbols
AUTH_BASE=$auth_base
EOF
echo "package: $final ($kind, $signing-signed)"
