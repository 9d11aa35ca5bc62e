#!/usr/bin/env bash
# Capture without root: an ordinary user running a copy of netvane-dump that
# carries cap_net_raw,cap_net_admin can list adapters and capture on a veth;
# the same user with a copy without them gets libpcap's permission message.
# Needs root (to create the user, the namespaces and the file capabilities);
# exits 77 (skipped) where that is not possible.
set -u
dump=${1:?usage: test_capabilities.sh NETVANE_DUMP}

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to create a user, namespaces and file capabilities"
for tool in ip setcap getcap useradd userdel runuser ping; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

tag=$$
user=nvcap$tag
nsa=nvcapa$tag
nsb=nvcapb$tag
work=$(mktemp -d /var/tmp/netvane-cap.XXXXXX)
cleanup() {
  ip netns del "$nsa" 2>/dev/null
  ip netns del "$nsb" 2>/dev/null
  userdel "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$nsa" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$nsb" || exit 1
ip link add vcapa$tag type veth peer name vcapb$tag || skip "cannot create veth pairs here"
ip link set vcapa$tag netns "$nsa"
ip link set vcapb$tag netns "$nsb"
ip -n "$nsa" addr add 10.231.0.1/24 dev vcapa$tag
ip -n "$nsb" addr add 10.231.0.2/24 dev vcapb$tag
ip -n "$nsa" link set vcapa$tag up
ip -n "$nsb" link set vcapb$tag up

useradd -M -s /usr/sbin/nologin "$user" || exit 1
chmod 755 "$work"
cp "$dump" "$work/with-caps"
cp "$dump" "$work/without-caps"
chmod 755 "$work/with-caps" "$work/without-caps"
setcap cap_net_raw,cap_net_admin=eip "$work/with-caps" || skip "file system does not keep file capabilities"
getcap "$work/with-caps" | grep -q cap_net_raw || skip "file capabilities not kept on $work"

fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

# Listing adapters with the capabilities names the veth.
list=$(ip netns exec "$nsa" runuser -u "$user" -- "$work/with-caps" -D 2>&1)
check "listing adapters as $user with capabilities shows the veth" 'grep -q "vcapa$tag" <<<"$list"'

# Capturing with the capabilities: ping from the other namespace, expect rows.
( for i in $(seq 1 20); do ip netns exec "$nsb" ping -c 1 -W 1 10.231.0.1 >/dev/null 2>&1; sleep 0.2; done ) &
pinger=$!
out=$(timeout 20 ip netns exec "$nsa" runuser -u "$user" -- "$work/with-caps" -i vcapa$tag -c 3 2>"$work/err")
status=$?
kill $pinger 2>/dev/null; wait $pinger 2>/dev/null
check "capture as $user with capabilities exits 0 (status $status)" '[ $status = 0 ]'
rows=$(grep -c . <<<"$out")
check "capture as $user with capabilities prints 3 rows (got $rows)" '[ "$rows" = 3 ]'
check "the rows are the veth's frames" 'grep -q "10.231.0" <<<"$out"'

# Without them binding fails with the library's permission message.
out=$(timeout 20 ip netns exec "$nsa" runuser -u "$user" -- "$work/without-caps" -i vcapa$tag -c 1 2>&1)
status=$?
echo "$out" | head -n 5
check "capture as $user without capabilities fails (status $status)" '[ $status != 0 ]'
check "the failure carries the permission reason" 'grep -qiE "permission|not permitted" <<<"$out"'

exit $fail
