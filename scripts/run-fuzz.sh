#!/usr/bin/env bash
# Runs each fuzz target for a bounded time over its seed corpus.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
for exe in "$build"/fuzz/fuzz_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  name=$(basename "$exe")
  corpus="$build/fuzz/${name}_corpus"
  mkdir -p "$corpus"
  seeds=fuzz/seeds/${name#fuzz_}
  echo "== $name for ${seconds}s"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 "$corpus" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")}
done
