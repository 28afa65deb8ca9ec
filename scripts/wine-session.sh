# Sourced by the test and run scripts: gives the Windows tree a Wine prefix
# of its own, a persistent wineserver, an X display and a silent sound card.
#   wine_session_start <build-dir>   wine_session_stop
# shellcheck shell=bash

wine_session_start() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # ALSA's default device becomes a null sink so MCI playback advances
  # without a sound card; the file is the tree's own, not ~/.asoundrc.
  export ALSA_CONFIG_PATH="$build_dir/alsa.conf"
  printf '%s\n' '</usr/share/alsa/alsa.conf>' \
    'pcm.!default { type null }' 'ctl.!default { type hw card 0 }' \
    >"$ALSA_CONFIG_PATH"

  if [[ -z "${DISPLAY:-}" ]]; then
    local display_number=$((90 + RANDOM % 400))
    Xvfb ":$display_number" -screen 0 1920x1200x24 -nolisten tcp \
      >/dev/null 2>&1 &
    WINE_SESSION_XVFB_PID=$!
    export DISPLAY=":$display_number"
    for _ in $(seq 50); do
      [[ -e "/tmp/.X11-unix/X$display_number" ]] && break
      sleep 0.1
    done
  fi

  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "wine: creating the test prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Fails only when this prefix's wineserver already runs: that one serves.
  wineserver -p >/dev/null 2>&1 || true
  # The first Wine program starts the prefix's services, which outlive it
  # and inherit its standard streams; started here, they hold no pipe of
  # CTest's open (CTest waits for those pipes to close).
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # A crashing test program ends at once instead of waiting on Wine's crash
  # dialog; set in existing prefixes too.
  if ! grep -q '^"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" \
    2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
      /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  fi
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [[ -n "${WINE_SESSION_XVFB_PID:-}" ]]; then
    kill "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    unset WINE_SESSION_XVFB_PID
  fi
}
