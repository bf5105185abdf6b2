#!/usr/bin/env bash
# Cross-compiling emulator for CTest in the i686 tree: runs a 32-bit Windows
# program with wine's 32-bit loader in the project's headless 32-bit prefix.
MCUFEED_WINE_ARCH=win32
source "$(dirname "$0")/../scripts/wine-env.sh"
mcufeed_wine_prefix null || exit 1
# A lingering server, started detached from our pipes: without one every
# program starts its own server and helpers, which hold the test's output pipe
# open for seconds after the program ends (a script test runs a hundred).
mcufeed_wine_server
exec "$WINE" "$@"
