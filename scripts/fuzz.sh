#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan+UBSan) and runs each for
# the given number of seconds (default 10). Each target starts from the seeds
# that the fixture builders write (tests/fixtures/tools/zvfuzz-seeds.cpp, built
# with the normal compiler in build-fuzz-seeds/, or $ZV_FUZZ_SEEDS_BUILD) and
# from the regression inputs committed in fuzz/corpus/<name>_fuzz/. New inputs go to
# a scratch folder, not into the repo. A crash fails the script and leaves the
# input in build-fuzz/.
#
# Run as root where unshare works, each target gets a private /run, /tmp,
# /var/log, library log and System V IPC, like the tests: the product's paths are fixed.
# Elsewhere the targets that need those paths do nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-10}
jobs=${ZV_BUILD_JOBS:+-j $ZV_BUILD_JOBS}
"$top/scripts/install-deps.sh"
"$top/scripts/install-deps.sh" clang libclang-rt-14-dev

seedbuild=${ZV_FUZZ_SEEDS_BUILD:-$top/build-fuzz-seeds}
cmake -S "$top" -B "$seedbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$seedbuild" --target zvfuzz-seeds $jobs

dir="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target fuzz_all $jobs

# Scratch lives in the build tree, not /tmp, which the targets see privately.
scratch=$(mktemp -d "$dir/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$seedbuild/tests/fixtures/zvfuzz-seeds" "$scratch/seeds"

. "$top/scripts/fuzz_isolate.sh"

status=0
for bin in "$dir"/fuzz/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "$scratch/new/$name"
  corpora=("$scratch/new/$name")
  for c in "$scratch/seeds/$name" "$top/fuzz/corpus/$name"; do
    [ -d "$c" ] && corpora+=("$c")
  done
  if ! (cd "$scratch" && "${isolate[@]}" "$bin" -max_total_time="$secs" -print_final_stats=1 \
        -artifact_prefix="$scratch/$name-" "${corpora[@]}" >"$scratch/$name.log" 2>&1); then
    echo "$name: FAILED"; tail -40 "$scratch/$name.log"; status=1
    for a in "$scratch/$name"-*; do [ -f "$a" ] && cp "$a" "$dir/" && echo "input kept: build-fuzz/$(basename "$a")"; done
  else
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$' || echo '?')
    echo "$name: ok, $runs runs in ${secs}s"
  fi
done
exit $status
