#!/usr/bin/env bash
# Install what is missing, build, and run every test (unit, library-over-simulator
# and whole-program). Pass "asan" to build and run them under ASan+UBSan instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
if [ "${1:-}" = asan ]; then
  dir="$top/build-asan"
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON >/dev/null
else
  dir="$top/build"
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" --timeout 300
