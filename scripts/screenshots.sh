#!/usr/bin/env bash
# Renders the main window and both configuration dialogs to docs/*.png: the
# win64 programs under wine's X11 driver on a private Xvfb display, with a CJK
# font standing in for 宋体/SimSun, against the bridge simulator (a state file
# made with the kq560sim tool gives each picture its target chip).
#
# Usage: scripts/screenshots.sh            (writes docs/main-window.png,
#                                           docs/avr-config.png, docs/at89-config.png)
# Uses build/win64 and a wine prefix of its own, build/wineprefix-x11
# (MCUFEED_SHOTS_TREE and MCUFEED_WINEPREFIX_X11 choose others).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
mcufeed_deps "${mcufeed_screenshot_packages[@]}"

tree=${MCUFEED_SHOTS_TREE:-$root/build/win64}
if [ ! -f "$tree/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" >/dev/null
fi
cmake --build "$tree" -j "$(nproc)" --target mcufeed_shots kq560sim KQ560DLL >/dev/null

work=$(mktemp -d)
xvfb_pid=""
export MCUFEED_WINEPREFIX=${MCUFEED_WINEPREFIX_X11:-$root/build/wineprefix-x11}
source "$root/scripts/wine-env.sh"

cleanup() {
  # Only what this script started: its display and its prefix's wine server.
  "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

mcufeed_wine_prefix x11
# The templates' font and the captions' font both map to WenQuanYi Zen Hei;
# with no window manager, wine draws the title bars itself. A UTF-16 .reg file
# carries the Chinese value name intact whatever the locale.
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
  '"宋体"="WenQuanYi Zen Hei"' '"SimSun"="WenQuanYi Zen Hei"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Decorated"="N"' '' |
  iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$work/fonts.reg"
"$WINE64" regedit /S "Z:${work//\//\\}\\fonts.reg" </dev/null >/dev/null 2>&1
"$WINESERVER" -w

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# $1 chip, $2 state file; extra "set" arguments follow.
make_state() {
  local state=$1 chip=$2
  shift 2
  "$WINE64" "$tree/bin/kq560sim.exe" new "$(winpath "$state")" "$chip" </dev/null >/dev/null
  if [ $# -gt 0 ]; then
    "$WINE64" "$tree/bin/kq560sim.exe" set "$(winpath "$state")" "$@" </dev/null >/dev/null
  fi
}

# $1 picture name, $2 helper mode, $3 file argument, $4 state file
shoot() {
  local name=$1 mode=$2 file=$3 state=$4
  rm -f "$work/ready" "$work/done"
  KQ560SIM_STATE=$(winpath "$state") "$WINE64" "$tree/bin/mcufeed_shots.exe" "$mode" "$file" \
    "$(winpath "$work/ready")" "$(winpath "$work/done")" </dev/null >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 900); do [ -s "$work/ready" ] && break; sleep 0.1; done
  if [ ! -s "$work/ready" ]; then
    echo "screenshots: $name did not come up" >&2
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  local x y w h
  read -r x y w h <"$work/ready"
  import -display "$DISPLAY" -window root "$work/$name-screen.png"
  convert "$work/$name-screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$root/docs/$name.png"
  touch "$work/done"
  wait "$pid" || true
  echo "docs/$name.png (${w}x${h})"
}

mkdir -p "$root/docs"
make_state "$work/mega16.state" MEGA16
make_state "$work/at89.state" AT89S52 lock 0x08
shoot main-window main "$(winpath "$root/examples/blink-mega8.hex")" "$work/mega16.state"
shoot avr-config avr - "$work/mega16.state"
shoot at89-config at89 - "$work/at89.state"
