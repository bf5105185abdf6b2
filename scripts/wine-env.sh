# Sourced by the scripts that run Windows programs under wine.
# Sets up the project's headless wine prefix under build/ (created once, under
# a lock) and a lingering wineserver so each test program starts quickly.
#
# MCUFEED_WINE_ARCH chooses the programs' kind: win64 (the default) runs x86_64
# programs with wine64 in build/wineprefix (MCUFEED_WINEPREFIX chooses
# another); win32 runs i686 programs with the 32-bit loader in a 32-bit prefix,
# build/wineprefix32 (MCUFEED_WINEPREFIX32 chooses another).

mcufeed_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
# The loaders by full path: once wine32 is installed, /usr/bin/wine starts the
# 32-bit one whatever the program.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
if [ "${MCUFEED_WINE_ARCH:-win64}" = win32 ]; then
  export WINEPREFIX=${MCUFEED_WINEPREFIX32:-$mcufeed_root/build/wineprefix32}
  export WINEARCH=win32
  WINE=$WINE32
else
  export WINEPREFIX=${MCUFEED_WINEPREFIX:-$mcufeed_root/build/wineprefix}
  export WINEARCH=win64
  WINE=$WINE64
fi
# The server beside the loader: /usr/bin/wineserver exists only with the wine
# package. It serves 32-bit and 64-bit prefixes alike.
WINESERVER=/usr/lib/wine/wineserver
export WINESERVER

# $1 = graphics driver: "null" (headless, the default) or "x11" (for screenshots).
mcufeed_wine_prefix() {
  local driver=${1:-null}
  [ -f "$WINEPREFIX/.mcufeed-ready" ] && return 0
  if [ ! -x "$WINE" ]; then
    echo "$WINE is missing: the $WINEARCH programs cannot run (scripts/test.sh installs it where they can)" >&2
    return 1
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.mcufeed-ready" ]; then
      # Helpers that wine leaves running must not hold our caller's pipes or the lock.
      "$WINE" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      # Let the first boot finish writing the registry before adding to it,
      # else its late writes can drop our keys.
      "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&-
      local tries=0
      until mcufeed_wine_settings "$driver"; do
        tries=$((tries + 1))
        [ $tries -ge 3 ] && { echo "wine prefix $WINEPREFIX: registry settings did not stick" >&2; return 1; }
      done
      # A 32-bit prefix must really be one: a 64-bit one cannot load i686 tests' DLLs
      # the way the product runs them.
      if [ "$WINEARCH" = win32 ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
        echo "wine prefix $WINEPREFIX: not a 32-bit prefix" >&2
        return 1
      fi
      touch "$WINEPREFIX/.mcufeed-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Adds the prefix's settings and checks that they reached the registry files.
mcufeed_wine_settings() {
  local driver=$1
  if [ "$driver" = null ]; then
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
  fi
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 9>&-
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&-
  grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" || return 1
  [ "$driver" != null ] || grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg"
}

# A server that lingers 30 s after its last client, started detached from our pipes.
mcufeed_wine_server() {
  "$WINESERVER" -p30 </dev/null >/dev/null 2>&1 || true
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
