#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a short, fixed budget,
# each on its seed corpus (tests/fuzz/<name>/seeds/).
set -euo pipefail
cd "$(dirname "$0")/.."
budget="${MRL_FUZZ_SECONDS:-10}"
shopt -s nullglob
for fuzzer in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name="$(basename "$fuzzer")"
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/${name#fuzz_}/seeds"
  echo "-- $name (${budget}s)"
  if [ -d "$seeds" ]; then
    "$fuzzer" -max_total_time="$budget" -print_final_stats=0 "$corpus" "$seeds" 2>&1 | tail -2
  else
    "$fuzzer" -max_total_time="$budget" -print_final_stats=0 "$corpus" 2>&1 | tail -2
  fi
done
