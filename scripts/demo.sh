#!/usr/bin/env bash
# The main job, end to end, against the simulated bridge: mcufeed-cli writes
# examples/blink-mega8.hex into a simulated ATmega8 ("MEGA" recognises it by
# its signature), and kq560sim then shows that the flash holds exactly that
# image.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" linux
bin=$root/build/linux/bin
work=$root/build/demo
mkdir -p "$work"
state=$work/mega8.sim
hex=$root/examples/blink-mega8.hex

echo
echo "== a fresh simulated ATmega8 on the bridge"
"$bin/kq560sim" new "$state" MEGA8
"$bin/kq560sim" show "$state"

echo
echo "== mcufeed-cli MEGA WF $hex"
KQ560SIM_STATE=$state "$bin/mcufeed-cli" MEGA WF "$hex"

echo
echo "== what the chip holds now"
"$bin/kq560sim" show "$state"
"$bin/kq560sim" dump "$state" flash "$work/flash.bin"

# The image the HEX file describes, decoded independently of the program.
python3 "$root/scripts/hex2bin.py" "$hex" "$work/expected.bin"
if cmp -s "$work/flash.bin" "$work/expected.bin"; then
  echo "flash matches $(basename "$hex") byte for byte (the rest of the 8 KiB reads 0xFF)"
else
  echo "flash differs from $(basename "$hex")" >&2
  exit 1
fi
