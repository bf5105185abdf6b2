# Sourced by the scripts: installs the Debian packages they need, only those
# that are missing, so a second run costs nothing.
mcufeed_packages=(cmake g++ make binutils python3 googletest libgtest-dev locales
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64)
# Only for rendering the window to pictures (scripts/screenshots.sh).
mcufeed_screenshot_packages=(xvfb xauth imagemagick fonts-wqy-zenhei)

mcufeed_sudo() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

mcufeed_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# mcufeed_deps [extra package ...]
mcufeed_deps() {
  local missing=() p
  for p in "${mcufeed_packages[@]}" "$@"; do
    mcufeed_installed "$p" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    mcufeed_sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive mcufeed_sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  mcufeed_zh_locale
}

# The command-line tool's tests also run under LANG=zh_CN.UTF-8, which glibc
# knows only once the locale has been generated.
mcufeed_zh_locale() {
  locale -a 2>/dev/null | grep -ixE 'zh_CN\.utf-?8' >/dev/null && return 0
  echo "== generating the zh_CN.UTF-8 locale"
  # Listed in locale.gen, so that a later locale-gen keeps it.
  if ! grep -qE '^zh_CN\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    if grep -qE '^# *zh_CN\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
      mcufeed_sudo sed -i -E 's/^# *(zh_CN\.UTF-8 UTF-8)/\1/' /etc/locale.gen
    else
      echo 'zh_CN.UTF-8 UTF-8' | mcufeed_sudo tee -a /etc/locale.gen >/dev/null
    fi
  fi
  mcufeed_sudo locale-gen >/dev/null
}

# Whether this kernel executes 32-bit x86 programs (some kernels of the same
# machine kind lack IA32 emulation): builds a static i386 program that exits 0
# and runs it. The answer is kept for the rest of the calling script.
mcufeed_runs_i386() {
  if [ -z "${mcufeed_i386_answer:-}" ]; then
    mcufeed_i386_answer=no
    local dir
    dir=$(mktemp -d)
    printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'movl $0, %ebx' 'int $0x80' >"$dir/exit0.s"
    if as --32 -o "$dir/exit0.o" "$dir/exit0.s" 2>/dev/null &&
       ld -m elf_i386 -o "$dir/exit0" "$dir/exit0.o" 2>/dev/null &&
       "$dir/exit0" 2>/dev/null; then
      mcufeed_i386_answer=yes
    fi
    rm -rf "$dir"
  fi
  [ "$mcufeed_i386_answer" = yes ]
}

# The 32-bit wine loader (/usr/lib/wine/wine). Only where 32-bit programs run:
# elsewhere it could not start, and it changes what /usr/bin/wine runs.
mcufeed_deps_wine32() {
  mcufeed_installed wine32:i386 && return 0
  echo "== installing: wine32:i386"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    mcufeed_sudo dpkg --add-architecture i386
  fi
  mcufeed_sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive mcufeed_sudo apt-get install -y -qq wine32:i386 >/dev/null
}
