#!/usr/bin/env bash
# Builds the native tree and shows what exists so far: the HEX decoder reading
# the sample images in examples/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" linux
"$root/build/linux/bin/image_tests" --gtest_filter="*Example*"
