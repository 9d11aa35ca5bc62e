#!/usr/bin/env bash
# Frame loss of live capture against tcpdump: a veth pair between two network
# namespaces of this script's own, tcpreplay sends N frames into one end at a
# fixed rate (and at top speed), and netvane-dump -i and tcpdump -w /dev/null
# capture the other end at the same time. Prints sent / delivered / dropped by
# the kernel for both. A last run at 100,000 frames/s compares the CPU time
# per captured frame of netvane-dump -i (its capture helper included) with
# tcpdump -nn -e -i, both printing to /dev/null. Needs root, tcpreplay and
# tcpdump; skips without them.
set -uo pipefail

build=${NETVANE_BUILD:-build-bench}
dump="$build/dump/netvane-dump"
for need in tcpreplay tcpdump ip perl; do
  if ! command -v "$need" >/dev/null 2>&1; then echo "loss.sh: skipped: $need is missing"; exit 0; fi
done
if [ "$(id -u)" != 0 ]; then echo "loss.sh: skipped: needs root for namespaces"; exit 0; fi
if [ ! -x "$dump" ]; then echo "loss.sh: $dump is not built" >&2; exit 1; fi
dump=$(realpath "$dump")

script=loss.sh
tag=$$
. "$(dirname "$0")/veth_pair.sh"
work=$(mktemp -d /tmp/netvane-loss.XXXXXX)

cleanup() {
  [ -n "${dump_pid:-}" ] && pkill -P "$dump_pid" 2>/dev/null
  [ -n "${tcpdump_pid:-}" ] && pkill -P "$tcpdump_pid" 2>/dev/null && kill "$tcpdump_pid" 2>/dev/null
  veth_pair_remove
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

veth_pair nvl

make_pcap() { udp_pcap "$1" 60 0 "$2"; }

# rate label, frames/s (0 = top speed), frame count, mode (loss or cpu)
runs=(
  "1000 1000 5000 loss"
  "10000 10000 50000 loss"
  "100000 100000 100000 loss"
  "top 0 300000 loss"
  "100000 100000 300000 cpu"
)
# A short smoke run of the script itself.
if [ "${NETVANE_LOSS_QUICK:-0}" = 1 ]; then runs=("10000 10000 2000 loss" "top 0 2000 loss" "10000 10000 2000 cpu"); fi

printf '%-10s %9s %8s | %-30s | %-30s\n' "rate/s" "actual/s" "sent" "netvane-dump delivered/dropped" "tcpdump delivered/dropped"
for run in "${runs[@]}"; do
  read -r label rate count mode <<<"$run"
  pcap="$work/frames-$count.pcap"
  [ -f "$pcap" ] || make_pcap "$count" "$pcap"

  # Started without a shell function in between, so $! is the capturing process
  # itself (ip netns exec replaces itself with the command).
  # Timed with the CPU time of everything each one waited for (the helper too).
  timed=(/usr/bin/time -o "$work/dump.cpu" -f "%U %S")
  ip netns exec "$cap_ns" "${timed[@]}" "$dump" -i "$cap_if" >"$work/rows" 2>"$work/dump.err" &
  dump_pid=$!
  if [ "$mode" = cpu ]; then
    ip netns exec "$cap_ns" /usr/bin/time -o "$work/tcpdump.cpu" -f "%U %S" \
      tcpdump -nn -e -i "$cap_if" >/dev/null 2>"$work/tcpdump.err" &
  else
    ip netns exec "$cap_ns" tcpdump -n -i "$cap_if" -w /dev/null 2>"$work/tcpdump.err" &
  fi
  tcpdump_pid=$!
  # Both must be listening before the first frame.
  for _ in $(seq 50); do
    grep -q "listening on" "$work/tcpdump.err" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1

  if [ "$rate" = 0 ]; then speed=(--topspeed); else speed=(--pps="$rate"); fi
  in_send tcpreplay -q -i "$send_if" "${speed[@]}" "$pcap" >"$work/replay.out" 2>&1
  sent=$(sed -n 's/.*Successful packets: *\([0-9]*\).*/\1/p' "$work/replay.out" | head -1)
  [ -n "$sent" ] || sent=$(sed -n 's/.*Actual: \([0-9]*\) packets.*/\1/p' "$work/replay.out" | head -1)
  actual=$(sed -n 's/.*Rated: .*, \([0-9]*\)[0-9.]* pps.*/\1/p' "$work/replay.out" | head -1)
  sleep 1.5

  # TERM, not INT: a background job of a script starts with SIGINT ignored.
  # The programs run under time(1), which ends when they do.
  pkill -TERM -P "$dump_pid" 2>/dev/null
  if [ "$mode" = cpu ]; then pkill -TERM -P "$tcpdump_pid"; else kill -TERM "$tcpdump_pid"; fi 2>/dev/null
  wait "$dump_pid" 2>/dev/null
  wait "$tcpdump_pid" 2>/dev/null
  dump_pid= tcpdump_pid=

  if [ "$mode" = cpu ]; then
    for _ in $(seq 50); do [ -s "$work/dump.cpu" ] && [ -s "$work/tcpdump.cpu" ] && break; sleep 0.1; done
    nv_frames=$(sed -n 's/^\([0-9]*\) frames received.*/\1/p' "$work/dump.err" | tail -1)
    td_frames=$(sed -n 's/^\([0-9]*\) packets\{0,1\} captured.*/\1/p' "$work/tcpdump.err" | tail -1)
    read -r nu ns <"$work/dump.cpu"
    read -r tu ts <"$work/tcpdump.cpu"
    awk -v nu="$nu" -v ns="$ns" -v nf="${nv_frames:-0}" -v tu="$tu" -v ts="$ts" -v tf="${td_frames:-0}" 'BEGIN {
      nv = nf ? (nu + ns) / nf * 1e6 : 0; td = tf ? (tu + ts) / tf * 1e6 : 0;
      printf "cpu at 100,000/s: netvane-dump -i %.2f us/frame (%.2f s, %d frames), tcpdump -nn -e -i %.2f us/frame (%.2f s, %d frames): %.2fx\n",
        nv, nu + ns, nf, td, tu + ts, tf, td ? nv / td : 0 }'
    continue
  fi
  nv_delivered=$(wc -l <"$work/rows")
  nv_dropped=$(sed -n 's/.* frames received, \([0-9]*\) dropped by the kernel/\1/p' "$work/dump.err" | tail -1)
  td_delivered=$(sed -n 's/^\([0-9]*\) packets\{0,1\} captured.*/\1/p' "$work/tcpdump.err" | tail -1)
  td_dropped=$(sed -n 's/^\([0-9]*\) packets\{0,1\} dropped by kernel.*/\1/p' "$work/tcpdump.err" | tail -1)
  printf '%-10s %9s %8s | %14s / %-13s | %14s / %-13s\n' "$label" "${actual:-?}" "${sent:-?}" \
    "$nv_delivered" "${nv_dropped:-?}" "${td_delivered:-?}" "${td_dropped:-?}"
done
