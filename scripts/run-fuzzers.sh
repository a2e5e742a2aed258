#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs each on its
# committed corpus for a fixed number of runs with a fixed seed, so every CI run does the same
# work. Fails when a target crashes or a sanitizer reports. New inputs a run finds go to a
# temporary folder, never into the committed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
runs=${TARVEL_FUZZ_RUNS:-150000}

if ! command -v clang++ >/dev/null; then
  echo "run-fuzzers: clang++ is missing (scripts/install-deps.sh --test installs it)" >&2
  exit 1
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTARVEL_FUZZ=ON -DTARVEL_BUILD_GUI=OFF -DTARVEL_BUILD_BENCH=OFF >/dev/null

targets=(fuzz_settings_ini)
cmake --build "$build" -j2 --target "${targets[@]}"

for target in "${targets[@]}"; do
  corpus="tests/fuzz/corpus/${target#fuzz_}"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  echo "run-fuzzers: $target, $runs runs"
  set +e
  "$build/tests/fuzz/$target" -seed=1 -runs="$runs" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$scratch/" "$scratch" "$corpus" 2>&1 | tail -n 12
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then
    echo "run-fuzzers: $target failed (exit $status); crashing input kept in $scratch" >&2
    trap - EXIT
    exit 1
  fi
  rm -rf "$scratch"
  trap - EXIT
done
echo "run-fuzzers: all targets passed"
