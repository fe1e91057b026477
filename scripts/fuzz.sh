#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan+UBSan) and runs each for
# the given number of seconds (default 10), starting from its seed corpus in
# fuzz/corpus/<name>/. New inputs go to a scratch folder, not into the repo.
# A crash fails the script and leaves the input beside the scratch corpus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-10}
"$top/scripts/install-deps.sh"
"$top/scripts/install-deps.sh" clang libclang-rt-14-dev
dir="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target fuzz_all
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for bin in "$dir"/fuzz/*_fuzz; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "$scratch/$name"
  seeds=()
  [ -d "$top/fuzz/corpus/$name" ] && seeds=("$top/fuzz/corpus/$name")
  if ! (cd "$scratch" && "$bin" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$scratch/$name-" \
        "$scratch/$name" "${seeds[@]}" >"$scratch/$name.log" 2>&1); then
    echo "$name: FAILED"; tail -40 "$scratch/$name.log"; status=1
    for a in "$scratch/$name"-*; do [ -f "$a" ] && cp "$a" "$top/build-fuzz/" && echo "input kept: build-fuzz/$(basename "$a")"; done
  else
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$' || echo '?')
    echo "$name: ok, $runs runs in ${secs}s"
  fi
done
exit $status
