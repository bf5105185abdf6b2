#!/usr/bin/env bash
# Cross-compiling emulator for CTest: runs an x86_64 Windows program under
# wine64 in the project's headless prefix.
source "$(dirname "$0")/../scripts/wine-env.sh"
mcufeed_wine_prefix null || exit 1
exec "$WINE" "$@"
