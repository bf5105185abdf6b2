#!/usr/bin/env bash
# The project's test command: installs what is missing, builds all trees, runs
# the native tests, the same tests under ASan+UBSan, and the win64 tests under
# wine64 (headless). The i686 tree is built only: this machine cannot run
# 32-bit programs. Exits non-zero if anything fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || { echo "build failed"; exit 1; }

source "$root/scripts/wine-env.sh"
mcufeed_wine_prefix null
mcufeed_wine_server

jobs=$(nproc)
status=0
run_ctest() {
  local tree=$1
  echo "== testing $tree"
  (cd "$root/build/$tree" && ctest -j "$jobs" --output-on-failure) > "$root/build/$tree-ctest.log" 2>&1
  local rc=$?
  grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ *Start +[0-9]+:' "$root/build/$tree-ctest.log" | sed '/^$/d' | tail -n 40
  [ $rc -eq 0 ] || status=1
}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest linux-asan
run_ctest win64
run_ctest linux
exit $status
