#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/) and runs one of them:
#
#   scripts/bench.sh mctp        # MCTP enable over 1..512 adapters, beside its floor
#   scripts/bench.sh discovery   # start-up discovery of 16, 64 and 128 two-port adapters
#   scripts/bench.sh flashcfg    # loading flash.cfg of 12,500 to 200,000 rows
#
# Further arguments go to the benchmark (e.g. --benchmark_filter=chip:25).
# Run as root where unshare works, the benchmark gets the tests' private /tmp,
# /var/log and library log; the program's pauses are skipped and counted.
# ZV_BENCH_DIR names a disk-backed scratch directory for the hosts (default
# build-bench/bench/work).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-}
[ $# -gt 0 ] && shift
case "$what" in
  mctp) target=bench_mctp_update ;;
  discovery) target=bench_discovery ;;
  flashcfg) target=bench_flash_cfg ;;
  *) echo "usage: $0 mctp|discovery|flashcfg [benchmark options]" >&2; exit 2 ;;
esac
"$top/scripts/install-deps.sh"
dir=${ZV_BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j "${ZV_BUILD_JOBS:-4}" --target "$target"
exec "$dir/tests/isolate.sh" "$dir/bench/$target" "$@"
