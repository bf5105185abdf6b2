#!/usr/bin/env bash
# Cross-compiling emulator for CTest: runs a Windows program under wine64 in
# the project's headless prefix.
source "$(dirname "$0")/../scripts/wine-env.sh"
mcufeed_wine_prefix null
exec "$WINE64" "$@"
