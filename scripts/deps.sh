# Sourced by the scripts: installs the Debian packages they need, only those
# that are missing, so a second run costs nothing.
mcufeed_packages=(cmake g++ make python3 googletest libgtest-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64)
# Only for rendering the window to pictures (scripts/screenshots.sh).
mcufeed_screenshot_packages=(xvfb xauth imagemagick fonts-wqy-zenhei)

# mcufeed_deps [extra package ...]
mcufeed_deps() {
  local missing=() p
  for p in "${mcufeed_packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
