#!/usr/bin/env bash
# Runs every Google Benchmark executable built under <build>/bench and every
# bench/*/*.sh script (comparisons against other tools, loss on a veth pair).
set -uo pipefail
build=${1:-build-bench}
status=0
while IFS= read -r exe; do
  echo "== $(basename "$exe")"
  "$exe" --benchmark_counters_tabular=true || status=1
done < <(find "$build/bench" -type f -executable -name 'bench_*' 2>/dev/null | sort)
while IFS= read -r script; do
  echo "== $script"
  NETVANE_BUILD="$build" bash "$script" || status=1
done < <(find bench -mindepth 2 -name '*.sh' 2>/dev/null | sort)
exit $status
