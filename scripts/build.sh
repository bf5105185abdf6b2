#!/usr/bin/env bash
# Configures and builds the trees: build/linux, build/linux-asan, build/win64, build/win32.
# Usage: scripts/build.sh [tree ...]   (default: all four)
# MCUFEED_BUILD_TARGETS="a b ..." builds only those targets of each tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
mcufeed_deps
jobs=$(nproc)

# $1 tree; the rest are cache settings. A tree is configured when it is new,
# or again when one of its settings differs from its cache.
configure_and_build() {
  local tree=$1; shift
  local dir=$root/build/$tree configure=no arg
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    configure=yes
  else
    for arg in "$@"; do
      if [[ $arg =~ ^-D([A-Za-z0-9_]+)(:[A-Z]+)?=(.*)$ ]] &&
         [ "$(sed -n "s/^${BASH_REMATCH[1]}:[A-Z]*=//p" "$dir/CMakeCache.txt")" != "${BASH_REMATCH[3]}" ]; then
        configure=yes
      fi
    done
  fi
  if [ $configure = yes ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  local targets=()
  for arg in ${MCUFEED_BUILD_TARGETS:-}; do targets+=(--target "$arg"); done
  echo "== building $tree"
  # The build's own status decides, not the filter's (grep fails when it
  # prints nothing; `|| true` would also hide a failed build).
  local status=0
  cmake --build "$dir" -j "$jobs" "${targets[@]}" -- --no-print-directory |
    grep -vE '^\[ *[0-9]+%\]|^Scanning|^Consolidate' || status=${PIPESTATUS[0]}
  return "$status"
}

trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(linux linux-asan win64 win32)
for t in "${trees[@]}"; do
  case $t in
    linux) configure_and_build linux ;;
    linux-asan) configure_and_build linux-asan -DMCUFEED_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug ;;
    win64) configure_and_build win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" ;;
    win32)
      # The i686 tests are registered with CTest only where this kernel can run them.
      emulate=OFF
      mcufeed_runs_i386 && emulate=ON
      configure_and_build win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake" \
        -DMCUFEED_WIN32_EMULATOR=$emulate ;;
    *) echo "unknown tree: $t" >&2; exit 2 ;;
  esac
done
