#!/usr/bin/env bash
# The project's test command: installs what is missing, builds all trees, runs
# the native tests, the same tests under ASan+UBSan, the win64 tests under
# wine64 (headless) and, where the kernel executes 32-bit programs, the i686
# tests under wine's 32-bit loader. Exits non-zero if anything fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || { echo "build failed"; exit 1; }

source "$root/scripts/deps.sh"
source "$root/scripts/wine-env.sh"
mcufeed_wine_prefix null
mcufeed_wine_server

jobs=$(nproc)
status=0
run_ctest() {
  local tree=$1
  echo "== testing $tree"
  (cd "$root/build/$tree" && ctest -j "$jobs" --output-on-failure --no-tests=error) > "$root/build/$tree-ctest.log" 2>&1
  local rc=$?
  grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ *Start +[0-9]+:' "$root/build/$tree-ctest.log" | sed '/^$/d' | tail -n 40
  [ $rc -eq 0 ] || status=1
}

# The i686 programs are what most users run (the bridge library is 32-bit),
# but only some kernels of this machine kind execute 32-bit programs.
run_i686() {
  if ! mcufeed_runs_i386; then
    echo "i686 tests not run: this kernel cannot execute 32-bit programs"
    return 0
  fi
  if ! mcufeed_deps_wine32; then
    echo "i686 tests not run: wine32:i386 could not be installed"
    status=1
    return 0
  fi
  if ! (MCUFEED_WINE_ARCH=win32 && source "$root/scripts/wine-env.sh" && mcufeed_wine_prefix null &&
        mcufeed_wine_server); then
    echo "i686 tests not run: the 32-bit wine prefix could not be made"
    status=1
    return 0
  fi
  run_ctest win32
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest linux-asan
run_ctest win64
run_i686
run_ctest linux
exit $status
