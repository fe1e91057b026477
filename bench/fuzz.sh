#!/usr/bin/env bash
# Long libFuzzer runs: every target of fuzz/ until it has executed RUNS inputs
# (default 10 million) or SECS seconds have passed (default 7200), JOBS
# targets at once (default 6). Usage: bench/fuzz.sh [RUNS [SECS [JOBS]]]
#
# Builds like scripts/fuzz.sh (clang, ASan+UBSan) but optimised, into
# build-fuzz-long/ (or the tree $ZV_FUZZ_BUILD names, taken as built). Seeds
# come from the fixture builders (zvfuzz-seeds in $ZV_FUZZ_SEEDS_BUILD, default
# build-fuzz-seeds/) and fuzz/corpus/<name>/. Each target's log and its final
# counts go to <build>/long.<time>/; a crash fails the script and its input is
# kept there. Isolation as in scripts/fuzz.sh (private /tmp, /var/log, IPC).
# $ZV_FUZZ_TARGETS (names, space-separated) picks some targets only.
# $ZV_FUZZ_FORK=N runs each target as N workers sharing one corpus (libFuzzer's
# fork mode), for the slow targets; the count is then all workers' inputs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10000000}
secs=${2:-7200}
jobs=${3:-6}

seedbuild=${ZV_FUZZ_SEEDS_BUILD:-$top/build-fuzz-seeds}
dir=${ZV_FUZZ_BUILD:-}
if [ -z "$dir" ]; then
  "$top/scripts/install-deps.sh"
  "$top/scripts/install-deps.sh" clang libclang-rt-14-dev
  dir="$top/build-fuzz-long"
  CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_FUZZ=ON \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$dir" --target fuzz_all -j "$jobs"
fi
if [ ! -x "$seedbuild/tests/fixtures/zvfuzz-seeds" ]; then
  cmake -S "$top" -B "$seedbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$seedbuild" --target zvfuzz-seeds -j "$jobs"
fi

out="$dir/long.$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"
"$seedbuild/tests/fixtures/zvfuzz-seeds" "$out/seeds"

. "$top/scripts/fuzz_isolate.sh"

# One target: its counts on one line of $out/summary.
one() {
  local bin=$1 name
  name=$(basename "$bin")
  mkdir -p "$out/new/$name"
  local corpora=("$out/new/$name")
  for c in "$out/seeds/$name" "$top/fuzz/corpus/$name"; do
    [ -d "$c" ] && corpora+=("$c")
  done
  local start end rc=0 done_runs fork=()
  [ -n "${ZV_FUZZ_FORK:-}" ] && fork=(-fork="$ZV_FUZZ_FORK")
  start=$(date +%s)
  (cd "$out" && "${isolate[@]}" "$bin" "${fork[@]}" -runs="$runs" -max_total_time="$secs" -print_final_stats=1 \
     -artifact_prefix="$out/$name-" "${corpora[@]}" >"$out/$name.log" 2>&1) || rc=$?
  end=$(date +%s)
  if [ ${#fork[@]} = 0 ]; then
    done_runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/$name.log" | grep -o '[0-9]*$' || echo '?')
  else
    done_runs=$(grep -oE '^#[0-9]+: cov' "$out/$name.log" | tail -1 | grep -oE '[0-9]+' || echo '?')
  fi
  if [ "$rc" = 0 ]; then
    echo "$name: ok, $done_runs runs in $((end - start)) s" | tee -a "$out/summary"
  else
    echo "$name: FAILED after $done_runs runs in $((end - start)) s (see $out/$name.log)" | tee -a "$out/summary"
  fi
}
status=0
targets=("$dir"/fuzz/*_fuzz)
if [ -n "${ZV_FUZZ_TARGETS:-}" ]; then
  targets=()
  for t in $ZV_FUZZ_TARGETS; do targets+=("$dir/fuzz/$t"); done
fi
running=0
for bin in "${targets[@]}"; do
  [ -x "$bin" ] || continue
  one "$bin" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
grep -q FAILED "$out/summary" && status=1
exit $status
