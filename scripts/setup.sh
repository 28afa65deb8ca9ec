#!/usr/bin/env bash
# Installs, on a fresh Debian machine, only the packages this project needs
# that are missing: toolchains, Wine and its helpers, test tools and fonts.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang lld libclang-rt-14-dev clang-format clang-tidy
  g++-mingw-w64-x86-64-posix
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmsgpack-cxx-dev
  wine wine64 xvfb xauth xdotool
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  sox imagemagick fonts-noto-cjk
  python3 python3-pytest python3-pytest-timeout python3-pefile llvm
  wixl msitools osslsigncode openssl
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
