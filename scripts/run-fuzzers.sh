#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs each on its
# committed corpus for a fixed number of runs with a fixed seed, so every CI run does the same
# work. Fails when a target crashes or a sanitizer reports. New inputs a run finds go to a
# temporary folder, never into the committed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
# Runs per target: each stays within a few seconds on two cores.
declare -A runs=([fuzz_settings_ini]=150000 [fuzz_ldif]=40000 [fuzz_client_text]=30000)

if ! command -v clang++ >/dev/null; then
  echo "run-fuzzers: clang++ is missing (scripts/install-deps.sh --test installs it)" >&2
  exit 1
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTARVEL_FUZZ=ON -DTARVEL_BUILD_GUI=OFF -DTARVEL_BUILD_BENCH=OFF >/dev/null

targets=(fuzz_settings_ini fuzz_ldif fuzz_client_text)
cmake --build "$build" -j2 --target "${targets[@]}"

for target in "${targets[@]}"; do
  corpus="tests/fuzz/corpus/${target#fuzz_}"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  n=${TARVEL_FUZZ_RUNS:-${runs[$target]}}
  echo "run-fuzzers: $target, $n runs"
  set +e
  "$build/tests/fuzz/$target" -seed=1 -runs="$n" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
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
