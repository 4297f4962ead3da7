#!/usr/bin/env bash
# Configures and builds the given presets (default: native and windows).
# "preset:target,target" builds only those targets of the preset.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
((${#presets[@]})) || presets=(native windows)
for item in "${presets[@]}"; do
  preset="${item%%:*}"
  targets=()
  if [[ "$item" == *:* ]]; then
    IFS=, read -r -a names <<<"${item#*:}"
    targets=(--target "${names[@]}")
  fi
  echo "== build $item"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "${targets[@]}"
done
