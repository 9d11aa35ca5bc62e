#!/usr/bin/env bash
# Listing adapters on a host with many: a network namespace of this script's
# own with 60 veth pairs (121 adapters with loopback); netvane-dump -D and
# tcpdump -D run one after the other, 30 times each, and the median wall time
# of each is printed. Goal: netvane-dump -D at most twice tcpdump -D. Needs
# root and tcpdump; skips without them.
set -uo pipefail

build=${NETVANE_BUILD:-build-bench}
dump="$build/dump/netvane-dump"
pairs=${NETVANE_LIST_PAIRS:-60}
rounds=${NETVANE_LIST_ROUNDS:-30}
command -v tcpdump >/dev/null 2>&1 || { echo "list_adapters.sh: skipped: tcpdump is missing"; exit 0; }
[ "$(id -u)" = 0 ] || { echo "list_adapters.sh: skipped: needs root for namespaces"; exit 0; }
[ -x "$dump" ] || { echo "list_adapters.sh: $dump is not built" >&2; exit 1; }
dump=$(realpath "$dump")

ns=nvlist$$
cleanup() { ip netns del "$ns" 2>/dev/null; }
trap cleanup EXIT
ip netns add "$ns" || { echo "list_adapters.sh: cannot create a namespace" >&2; exit 1; }
ip -n "$ns" link set lo up
for i in $(seq "$pairs"); do
  ip -n "$ns" link add nva$i type veth peer name nvb$i && ip -n "$ns" link set nva$i up && ip -n "$ns" link set nvb$i up ||
    { echo "list_adapters.sh: cannot create veth pairs" >&2; exit 1; }
done

# Prints the median of the wall times, in ms, of running "$@" $rounds times
# (interleaved with the other tool by the caller's loop).
declare -A times
run() { # name command...
  local name=$1 t0 t1
  shift
  t0=$(date +%s%N)
  ip netns exec "$ns" "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  times[$name]+="$(((t1 - t0) / 1000)) "
}
median_ms() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)] / 1000}'; }

listed=$(ip netns exec "$ns" "$dump" -D | wc -l)
tlisted=$(ip netns exec "$ns" tcpdump -D 2>/dev/null | wc -l)
for _ in $(seq "$rounds"); do
  run netvane "$dump" -D
  run tcpdump tcpdump -D
done
nv=$(median_ms "${times[netvane]}")
td=$(median_ms "${times[tcpdump]}")
awk -v nv="$nv" -v td="$td" -v l="$listed" -v tl="$tlisted" 'BEGIN {
  printf "adapters: netvane-dump -D lists %d in %.1f ms, tcpdump -D lists %d in %.1f ms (median of runs): %.2fx\n", l, nv, tl, td, nv / td }'
