#!/usr/bin/env bash
# Release bundles: builds the Windows programs (if needed) and writes
#   dist/mcufeed-<version>-win32.zip and dist/mcufeed-<version>-win64.zip
# each holding mcufeed.exe, mcufeed-cli.exe, the user guides (README.txt and
# 使用说明.txt, UTF-8 with a byte-order mark and CR LF line ends) and
# simulator/ (our stand-in KQ560DLL.dll, kq560sim.exe and how to try the
# programs with them). The bridge maker's KQ560DLL.DLL is never included.
#
# Then checks each bundle as a user would get it: the listing, the version
# resources of both programs, their imports, and, unpacked into a fresh
# folder and a fresh wine prefix with simulator/KQ560DLL.dll copied beside
# the programs, mcufeed-cli.exe programming a simulated chip. The win32
# bundle runs only where the kernel executes 32-bit programs.
#
# Usage: scripts/package.sh [win32|win64 ...]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"

version=$(sed -nE 's/^project\(mcufeed VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(win32 win64)
for arch in "${arches[@]}"; do
  case $arch in win32|win64) ;; *) echo "unknown bundle: $arch" >&2; exit 2 ;; esac
done

MCUFEED_BUILD_TARGETS="mcufeed mcufeed-cli KQ560DLL kq560sim" "$root/scripts/build.sh" "${arches[@]}"

mingw_prefix() { [ "$1" = win32 ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32; }

# $1 arch: stages the bundle's files under build/package/ and writes the zip.
make_bundle() {
  local arch=$1 name=mcufeed-$version-$1
  local bin=$root/build/$arch/bin stage=$root/build/package/$name strip
  strip=$(mingw_prefix "$arch")-strip
  rm -rf "$stage"
  mkdir -p "$stage/simulator" "$root/dist"
  # Without the debug information: a tenth of the size, the same code.
  "$strip" -o "$stage/mcufeed.exe" "$bin/mcufeed.exe"
  "$strip" -o "$stage/mcufeed-cli.exe" "$bin/mcufeed-cli.exe"
  "$strip" -o "$stage/simulator/KQ560DLL.dll" "$bin/KQ560DLL.dll"
  "$strip" -o "$stage/simulator/kq560sim.exe" "$bin/kq560sim.exe"
  python3 - "$root/packaging" "$stage" "$version" "$root/dist/$name.zip" "$name" <<'PY'
import os, sys, zipfile
src, stage, version, out, top = sys.argv[1:]
# The texts as Windows editors expect them: UTF-8 with a byte-order mark
# (Notepad then never guesses the code page), CR LF line ends.
for rel in ("README.txt", "使用说明.txt", os.path.join("simulator", "README.txt")):
    with open(os.path.join(src, rel), encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    with open(os.path.join(stage, rel), "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(text)
tmp = out + ".part"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for dirpath, dirnames, filenames in os.walk(stage):
        dirnames.sort()
        for n in sorted(filenames):
            path = os.path.join(dirpath, n)
            z.write(path, top + "/" + os.path.relpath(path, stage).replace(os.sep, "/"))
os.replace(tmp, out)
PY
  echo "dist/$name.zip"
}

# The checks below report every problem and fail at the end.
problems=0
problem() { echo "package: $*" >&2; problems=$((problems + 1)); }

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# $1 arch: the bundle as a user unpacks it.
check_bundle() {
  local arch=$1 name=mcufeed-$version-$1
  local zip=$root/dist/$name.zip work
  work=$(mktemp -d "$root/build/package-check.XXXXXX")

  python3 - "$zip" "$work/unpacked" <<'PY'
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
PY
  local dir=$work/unpacked/$name
  local expected actual
  expected=$(printf '%s\n' README.txt mcufeed-cli.exe mcufeed.exe simulator/KQ560DLL.dll \
    simulator/README.txt simulator/kq560sim.exe 使用说明.txt | LC_ALL=C sort)
  actual=$(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  [ "$expected" = "$actual" ] || problem "$name.zip holds:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"

  # The guides: a byte-order mark, CR LF only, the version filled in.
  python3 - "$dir" "$version" <<'PY' || problem "$name.zip: a guide is not as Windows expects it"
import sys
ok = True
for rel in ("README.txt", "使用说明.txt", "simulator/README.txt"):
    data = open(sys.argv[1] + "/" + rel, "rb").read()
    lf = data.count(b"\n")
    if not data.startswith(b"\xef\xbb\xbf") or lf == 0 or data.count(b"\r\n") != lf or b"@VERSION@" in data:
        print("  %s: no BOM, a bare LF, or no version" % rel); ok = False
    if rel != "simulator/README.txt" and sys.argv[2].encode() not in data:
        print("  %s: does not name version %s" % (rel, sys.argv[2])); ok = False
sys.exit(0 if ok else 1)
PY

  # Version resources, the one number of CMakeLists.txt.
  (cd "$dir" && python3 "$root/scripts/peversion.py" --expect "$version" mcufeed.exe mcufeed-cli.exe) ||
    problem "$name.zip: version resources"

  # Statically linked: system DLLs and the bridge library only.
  local exe dll
  for exe in mcufeed.exe mcufeed-cli.exe simulator/kq560sim.exe; do
    for dll in $("$(mingw_prefix "$arch")-objdump" -p "$dir/$exe" | sed -n 's/^\s*DLL Name: //p'); do
      case ${dll,,} in
        kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|advapi32.dll|shell32.dll|ole32.dll|msvcrt.dll|kq560dll.dll) ;;
        *) problem "$name.zip: $exe imports $dll" ;;
      esac
    done
  done

  if [ "$arch" = win32 ] && ! mcufeed_runs_i386; then
    echo "$name.zip: not run: this kernel cannot execute 32-bit programs"
    rm -rf "$work"
    return 0
  fi
  [ "$arch" = win32 ] && mcufeed_deps_wine32
  (
    export MCUFEED_WINE_ARCH=$arch MCUFEED_WINEPREFIX=$work/prefix MCUFEED_WINEPREFIX32=$work/prefix
    source "$root/scripts/wine-env.sh"
    trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT
    mcufeed_wine_prefix null || exit 1
    mcufeed_wine_server
    run() { "$WINE" "$@" </dev/null >"$work/out.txt" 2>&1; }
    cd "$dir"
    local hex=blink-mega8.hex
    cp "$root/examples/$hex" "$dir/$hex"
    # Without a bridge library beside it the program must not even start:
    # the loader's "DLL not found" (0xC0000135, whose low byte wine returns).
    local rc=0
    run ./mcufeed-cli.exe MEGA WF "$hex" || rc=$?
    if [ $rc -ne 53 ]; then
      echo "package: $name: without KQ560DLL.dll mcufeed-cli.exe exited $rc, not 53 (DLL not found)" >&2
      exit 1
    fi
    cp simulator/KQ560DLL.dll .
    run simulator/kq560sim.exe new "$(winpath "$work/mega8.sim")" MEGA8 || { cat "$work/out.txt"; exit 1; }
    rc=0
    KQ560SIM_STATE=$(winpath "$work/mega8.sim") run ./mcufeed-cli.exe MEGA WF "$hex" || rc=$?
    tr -d '\r' <"$work/out.txt" | sed 's/^/    /'
    [ $rc -eq 0 ] || { echo "package: $name: mcufeed-cli.exe exited $rc" >&2; exit 1; }
    run simulator/kq560sim.exe dump "$(winpath "$work/mega8.sim")" flash "$(winpath "$work/flash.bin")" ||
      { cat "$work/out.txt"; exit 1; }
    python3 "$root/scripts/hex2bin.py" "$root/examples/$hex" "$work/expected.bin"
    cmp -s "$work/flash.bin" "$work/expected.bin" ||
      { echo "package: the simulated flash does not hold the image" >&2; exit 1; }
    echo "    the simulated ATmega8's flash holds $hex byte for byte"
  ) || problem "$name: mcufeed-cli.exe did not program the simulated chip"
  rm -rf "$work"
}

for arch in "${arches[@]}"; do make_bundle "$arch"; done
for arch in "${arches[@]}"; do
  echo "== checking mcufeed-$version-$arch.zip"
  check_bundle "$arch"
done
if [ $problems -ne 0 ]; then
  echo "package: $problems problem(s)" >&2
  exit 1
fi
echo "== bundles"
for arch in "${arches[@]}"; do
  python3 -m zipfile -l "$root/dist/mcufeed-$version-$arch.zip"
done
