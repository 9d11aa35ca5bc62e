#!/usr/bin/env bash
# Capture over a local SSH connection against a local capture and against
# ssh HOST tcpdump -U -w -: a veth pair between two network namespaces of this
# script's own; in the capturing one, an sshd of its own on 127.0.0.1 with
# keys made for it. tcpreplay sends N full-size frames (1514 bytes) into the
# other end, at top speed and at 10,000 frames/s (where all three keep every
# frame, so that their CPU is for the same frames), once for each of (one at a
# time)
#   local    netvane-dump -i IF -w /dev/null
#   remote   netvane-dump -i ssh://root@127.0.0.1:PORT/IF -w /dev/null
#   tcpdump  ssh -p PORT root@127.0.0.1 tcpdump -U -w - -i IF >/dev/null
# and prints the frames each kept and the kernel dropped; for the two over
# SSH, the CPU time per frame on the captured host: everything sshd ran for
# the session (its session processes, and the helper or tcpdump), as the
# sshd that reaped them counts it. Runs NETVANE_REMOTE_ROUNDS rounds (3).
# Needs root, tcpreplay, tcpdump and sshd; skips without them.
set -uo pipefail

build=${NETVANE_BUILD:-build-bench}
dump="$build/dump/netvane-dump"
count=${NETVANE_REMOTE_FRAMES:-20000}
rounds=${NETVANE_REMOTE_ROUNDS:-3}
for need in tcpreplay tcpdump ip perl ssh ssh-keygen /usr/sbin/sshd; do
  command -v "$need" >/dev/null 2>&1 || { echo "remote.sh: skipped: $need is missing"; exit 0; }
done
[ "$(id -u)" = 0 ] || { echo "remote.sh: skipped: needs root for namespaces"; exit 0; }
[ -x "$dump" ] || { echo "remote.sh: $dump is not built" >&2; exit 1; }
dump=$(realpath "$dump")
helper=$(realpath "$build/libexec/netvane/netvane-capture")

script=remote.sh
tag=$$
. "$(dirname "$0")/veth_pair.sh"
port=2222
work=$(mktemp -d /tmp/netvane-remote.XXXXXX)
sshd_pid=

cleanup() {
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null && wait "$sshd_pid" 2>/dev/null
  veth_pair_remove
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

veth_pair nvr
in_cap ip link set lo up

ssh-keygen -q -t ed25519 -N '' -f "$work/host_key" && ssh-keygen -q -t ed25519 -N '' -f "$work/client_key" || exit 1
cp "$work/client_key.pub" "$work/authorized_keys"
cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile none
EOF
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/known_hosts"
cat >"$work/ssh_config" <<EOF
Host *
  IdentityFile $work/client_key
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  GlobalKnownHostsFile /dev/null
  LogLevel ERROR
EOF
mkdir -p /run/sshd
# Started without a shell function in between, so $! is the program itself
# (ip netns exec replaces itself with it).
ip netns exec "$cap_ns" /usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
export NETVANE_SSH="ssh -F $work/ssh_config" NETVANE_REMOTE_HELPER=$helper
for _ in $(seq 50); do in_cap $NETVANE_SSH -p $port root@127.0.0.1 true 2>/dev/null && break; sleep 0.1; done

udp_pcap "$count" 1514 165 "$work/frames.pcap"

# CPU time (ticks) of everything sshd has reaped so far, once no session is left.
reaped_ticks() {
  for _ in $(seq 100); do [ -z "$(pgrep -P "$sshd_pid")" ] && break; sleep 0.05; done
  awk '{ print $16 + $17 }' "/proc/$sshd_pid/stat"
}
hz=$(getconf CLK_TCK)

printf '%-8s %-6s %6s | %8s %8s | %s\n' "run" "rate/s" "sent" "kept" "dropped" "CPU on the captured host"
for round in $(seq "$rounds"); do
  for rate in top 10000; do
  for mode in local remote tcpdump; do
    before=$(reaped_ticks)
    # tcpdump over SSH ends (and reports) after the frames and 2 s more.
    limit=5
    [ "$rate" = top ] || limit=$((4 + count / rate))
    case $mode in
      local) ip netns exec "$cap_ns" "$dump" -i "$cap_if" -w /dev/null 2>"$work/err" & ;;
      remote) ip netns exec "$cap_ns" "$dump" -i "ssh://root@127.0.0.1:$port/$cap_if" -w /dev/null 2>"$work/err" & ;;
      tcpdump)
        ip netns exec "$cap_ns" $NETVANE_SSH -p $port root@127.0.0.1 timeout -s INT $limit tcpdump -U -w - -i "$cap_if" \
          >/dev/null 2>"$work/err" &
        ;;
    esac
    pid=$!
    sleep 1.5
    if [ "$rate" = top ]; then speed=(--topspeed); else speed=(--pps="$rate"); fi
    in_send tcpreplay -q -i "$send_if" "${speed[@]}" "$work/frames.pcap" >"$work/replay.out" 2>&1
    sent=$(sed -n 's/.*Successful packets: *\([0-9]*\).*/\1/p' "$work/replay.out" | head -1)
    sleep 2
    [ "$mode" = tcpdump ] || kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if [ "$mode" = tcpdump ]; then
      kept=$(sed -n 's/^\([0-9]*\) packets\{0,1\} captured.*/\1/p' "$work/err" | tail -1)
      dropped=$(sed -n 's/^\([0-9]*\) packets\{0,1\} dropped by kernel.*/\1/p' "$work/err" | tail -1)
    else
      kept=$(sed -n 's/^\([0-9]*\) frames received.*/\1/p' "$work/err" | tail -1)
      dropped=$(sed -n 's/.* frames received, \([0-9]*\) dropped by the kernel/\1/p' "$work/err" | tail -1)
    fi
    cpu=""
    if [ "$mode" != local ]; then
      after=$(reaped_ticks)
      cpu=$(awk -v t=$((after - before)) -v hz="$hz" -v n="${kept:-0}" \
        'BEGIN { printf "%.2f s, %.1f us/frame", t / hz, n ? t / hz / n * 1e6 : 0 }')
    fi
    printf '%-8s %-6s %6s | %8s %8s | %s\n' "$mode" "$rate" "${sent:-?}" "${kept:-?}" "${dropped:-?}" "$cpu"
  done
  done
done
