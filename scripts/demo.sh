#!/usr/bin/env bash
# Fresh machine to a first run: install what is missing, build, lay out the demo
# host of simulated adapters (once; later runs keep what earlier runs flashed) and
# run tarvikolen with no command word (MCTP enable) against it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build"
demo="$top/build/demo"
if [ ! -f "$demo/host/host.json" ]; then
  "$top/build/tests/fixtures/zvsim-demo-host" "$demo" "$top/build/tarvikolen"
fi
cd "$demo/install"
export ZV_SIM_HOST="$demo/host"
set +e
./tarvikolen "$@"
rc=$?
set -e
echo "tarvikolen exited with status $rc"
