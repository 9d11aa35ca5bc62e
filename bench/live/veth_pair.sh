# Sourced by the live benchmarks: two network namespaces of the caller's own,
# the sending one and the capturing one, joined by a veth pair whose ends are
# up, IPv6 off (its router and neighbour chatter would add frames). The caller
# sets `script` (its name, for messages) and `tag` (unique, e.g. $$) first;
# veth_pair PREFIX makes them, setting send_ns, cap_ns, send_if and cap_if;
# in_send / in_cap run a command in either; veth_pair_remove removes both.

veth_pair() {
  send_ns=${1}send$tag
  cap_ns=${1}cap$tag
  send_if=${1}s$tag
  cap_if=${1}c$tag
  ip netns add "$send_ns" && ip netns add "$cap_ns" || { echo "$script: cannot create namespaces" >&2; exit 1; }
  for ns in "$send_ns" "$cap_ns"; do
    ip netns exec "$ns" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6'
  done
  ip link add "$send_if" netns "$send_ns" type veth peer name "$cap_if" netns "$cap_ns" || exit 1
  in_send ip link set "$send_if" up
  in_cap ip link set "$cap_if" up
}

in_send() { ip netns exec "$send_ns" "$@"; }
in_cap() { ip netns exec "$cap_ns" "$@"; }

veth_pair_remove() {
  [ -n "${send_ns:-}" ] && ip netns del "$send_ns" 2>/dev/null
  [ -n "${cap_ns:-}" ] && ip netns del "$cap_ns" 2>/dev/null
  return 0
}
