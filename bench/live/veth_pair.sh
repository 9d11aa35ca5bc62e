# Sourced by the live benchmarks. veth_pair: two network namespaces of the caller's own,
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

# udp_pcap N LENGTH FILL PATH: writes N frames of LENGTH bytes (60 to 1514),
# IPv4/UDP between two documentation addresses, so the capturing kernel only
# sees them, never answers them; the payload is the byte FILL (0 to 255).
udp_pcap() {
  perl -e '
    my ($n, $len, $fill, $path) = @ARGV;
    open(my $f, ">:raw", $path) or die;
    print $f pack("LSSlLLL", 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1);
    for my $i (0 .. $n - 1) {
      my $ip = pack("CCnnnCCnNN", 0x45, 0, $len - 14, $i & 0xffff, 0, 64, 17, 0, 0xC0000201, 0xC0000202);
      my $udp = pack("nnnn", 40000, 9, $len - 34, 0);
      my $frame = pack("H12H12n", "020000000002", "020000000001", 0x0800) . $ip . $udp;
      $frame .= chr($fill) x ($len - length($frame));
      print $f pack("LLLL", int($i / 1000), ($i % 1000) * 1000, $len, $len), $frame;
    }
  ' "$1" "$2" "$3" "$4"
}
