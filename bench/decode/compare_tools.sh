#!/usr/bin/env bash
# Times netvane-dump, tcpdump -nn -e and tshark -T fields on the same capture of
# mixed traffic (1,000,000 frames unless NETVANE_BENCH_FRAMES says otherwise),
# all writing to /dev/null, and prints frames per second and the ratios.
# Goals: netvane-dump at least 3x tcpdump's rate and 15x tshark's.
set -uo pipefail
build=${NETVANE_BUILD:-build-bench}
frames=${NETVANE_BENCH_FRAMES:-1000000}
dump=$build/dump/netvane-dump
gen=$build/bench/decode/decode_bench_gen
for exe in "$dump" "$gen"; do
  [ -x "$exe" ] || { echo "compare_tools: $exe is not built"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture=$work/mixed.pcap
"$gen" "$capture" "$frames" || { echo "compare_tools: could not write $capture"; exit 1; }
echo "capture: $frames frames, $(( $(stat -c %s "$capture") / 1048576 )) MiB"

calc() { awk "BEGIN { print $1 }"; }

# Seconds (with fractions) that one run of the given command takes, output discarded.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/stderr" || { echo "FAILED" ; return 1; }
  end=$(date +%s.%N)
  calc "$end - $start"
}

# Best of `runs` runs, so that one disturbance on a shared machine does not decide.
best() {
  local runs=$1 best= t
  shift
  for _ in $(seq "$runs"); do
    t=$(seconds "$@") || { echo FAILED; return 1; }
    if [ -z "$best" ] || [ "$(calc "$t < $best")" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

netvane=$(best 3 "$dump" "$capture") || { echo "netvane-dump failed: $(cat "$work/stderr")"; exit 1; }
printf '%-14s %8.2f s %12.0f frames/s\n' netvane-dump "$netvane" "$(calc "$frames / $netvane")"

status=0
compare() {  # name goal seconds
  local name=$1 goal=$2 t=$3 ratio
  ratio=$(calc "$t / $netvane")
  printf '%-14s %8.2f s %12.0f frames/s   netvane-dump is %.1fx as fast (goal %sx: %s)\n' \
    "$name" "$t" "$(calc "$frames / $t")" "$ratio" "$goal" \
    "$( [ "$(calc "$ratio >= $goal")" = 1 ] && echo met || echo MISSED)"
}

if command -v tcpdump >/dev/null; then
  t=$(best 2 tcpdump -nn -e -r "$capture") && compare tcpdump 3 "$t" || { echo "tcpdump failed: $(cat "$work/stderr")"; status=1; }
else
  echo "tcpdump: not installed (make bench installs it)"
fi
if command -v tshark >/dev/null; then
  # The fields of the packet-list row: number, source and destination card, addresses, protocol.
  t=$(seconds tshark -n -r "$capture" -T fields -e frame.number -e eth.src -e eth.dst -e ip.src -e ip.dst \
        -e _ws.col.Protocol) && compare tshark 15 "$t" || { echo "tshark failed: $(cat "$work/stderr")"; status=1; }
else
  echo "tshark: not installed (make bench installs it)"
fi
exit $status
