# Sourced by the scripts that run Windows programs under wine64.
# Sets up the project's headless wine prefix under build/ (created once, under
# a lock) and a lingering wineserver so each test program starts quickly.

mcufeed_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${MCUFEED_WINEPREFIX:-$mcufeed_root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
WINE64=/usr/lib/wine/wine64
# The server beside the loader: /usr/bin/wineserver exists only with the wine package.
WINESERVER=/usr/lib/wine/wineserver
export WINESERVER

# $1 = graphics driver: "null" (headless, the default) or "x11" (for screenshots).
mcufeed_wine_prefix() {
  local driver=${1:-null}
  [ -f "$WINEPREFIX/.mcufeed-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.mcufeed-ready" ]; then
      # Helpers that wine leaves running must not hold our caller's pipes or the lock.
      "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      # Let the first boot finish writing the registry before adding to it,
      # else its late writes can drop our keys.
      "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&-
      local tries=0
      until mcufeed_wine_settings "$driver"; do
        tries=$((tries + 1))
        [ $tries -ge 3 ] && { echo "wine prefix $WINEPREFIX: registry settings did not stick" >&2; return 1; }
      done
      touch "$WINEPREFIX/.mcufeed-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Adds the prefix's settings and checks that they reached the registry files.
mcufeed_wine_settings() {
  local driver=$1
  if [ "$driver" = null ]; then
    "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
  fi
  "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&-
  grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" || return 1
  [ "$driver" != null ] || grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"
}

# A server that lingers 30 s after its last client, started detached from our pipes.
mcufeed_wine_server() {
  "$WINESERVER" -p30 </dev/null >/dev/null 2>&1 || true
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
