#!/bin/sh
# cli_signals.sh CLI TOOL WORK: a run hung in a bridge call holds the bridge (busy) until
# Ctrl+C twice ends it (130, no JSON line); one Ctrl+C stops a job between pages.
cli=$1 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
export MCUFEED_SETTINGS_FILE="$work/settings" KQ560SIM_SLOT=2,5 KQ560SIM_STATE=a.sim,b.sim
"$2" new a.sim MEGA8 && "$2" new b.sim MEGA128 || exit 1
fail() { echo "FAIL: $*"; cat run.out; kill -9 "$pid"; exit 1; }
started() { for _ in $(seq 50); do grep -q "$1" run.out && sleep 0.3 && return; sleep 0.1; done; fail "no $1"; }
KQ560SIM_FAULT=hang=12 "$cli" --json --slot=5 MEGA128 CF >run.out 2>&1 & pid=$!
started 正在识别MCU型号
[ "$("$cli" --list | tr '\n' ' ')" = "2 KQ560-2 0x30 5 KQ560-5 busy " ] || fail "--list: $("$cli" --list)"
"$cli" --slot=5 MEGA128 CF >/dev/null 2>&1; [ $? -eq 3 ] || fail "a busy bridge opened"
kill -INT $pid; sleep 0.3; kill -0 $pid || fail "one Ctrl+C ended a hung run"
kill -INT $pid; wait $pid; rc=$?
[ $rc -eq 130 ] && ! grep -q '^{' run.out || fail "Ctrl+C twice: exit $rc, or a JSON line"
head -c 131072 /dev/zero | tr '\0' U >full.bin
"$cli" --slot=5 --fast=0 MEGA128 WF full.bin >run.out 2>&1 & pid=$!
started 正在对MEGA128的FLASH进行编程
kill -INT $pid; wait $pid; rc=$?
[ $rc -eq 7 ] && grep -q 用户终止 run.out || fail "one Ctrl+C while writing: exit $rc"
