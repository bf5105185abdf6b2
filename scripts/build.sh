#!/usr/bin/env bash
# Configures and builds the trees: build/linux, build/linux-asan, build/win64, build/win32.
# Usage: scripts/build.sh [tree ...]   (default: all four)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
mcufeed_deps
jobs=$(nproc)

configure_and_build() {
  local tree=$1; shift
  local dir=$root/build/$tree
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  echo "== building $tree"
  cmake --build "$dir" -j "$jobs" -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]|^Scanning|^Consolidate' || true
  test "${PIPESTATUS[0]}" -eq 0
}

trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(linux linux-asan win64 win32)
for t in "${trees[@]}"; do
  case $t in
    linux) configure_and_build linux ;;
    linux-asan) configure_and_build linux-asan -DMCUFEED_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug ;;
    win64) configure_and_build win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" ;;
    win32) configure_and_build win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake" ;;
    *) echo "unknown tree: $t" >&2; exit 2 ;;
  esac
done
