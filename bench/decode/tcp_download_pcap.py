#!/usr/bin/env python3
# tcp_download_pcap.py FILE BYTES: a capture of one TCP download, for timing
# netvane-dump --follow on big streams: SYN, SYN+ACK, a request, the
# server's 1448-byte segments with every 97th pair swapped and every 211th
# segment sent twice, ACKs from the client, FIN both ways. The payload is
# a deterministic pattern, also written to FILE.body, so that the followed
# server side can be checked against it.
import struct, sys
out, size = sys.argv[1], int(sys.argv[2])
cli, srv = bytes([10,0,0,1]), bytes([10,0,0,2])
f = open(out, "wb", buffering=1 << 20)
f.write(struct.pack("<IHHiIII", 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
t = [0]
def frame(src, dst, sp, dp, seq, ack, flags, payload=b""):
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 40 + len(payload), 0, 0x4000, 64, 6, 0, src, dst)
    tcp = struct.pack("!HHIIBBHHH", sp, dp, seq & 0xffffffff, ack & 0xffffffff, 0x50, flags, 65535, 0, 0)
    eth = b"\x02\0\0\0\0\x02\x02\0\0\0\0\x01\x08\x00"
    data = eth + ip + tcp + payload
    t[0] += 10
    f.write(struct.pack("<IIII", t[0] // 1000000, t[0] % 1000000, len(data), len(data)))
    f.write(data)
block = bytes((i * 7 + 3) & 0xff for i in range(1448 * 256))
def chunk(off, n):
    k = off % len(block)
    return (block[k:] + block)[:n] if k + n > len(block) else block[k:k+n]
cisn, sisn = 0xfffff000, 0xffff0000  # both wrap early
frame(cli, srv, 40000, 80, cisn, 0, 0x02)
frame(srv, cli, 80, 40000, sisn, cisn + 1, 0x12)
req = b"GET /big HTTP/1.0\r\n\r\n"
frame(cli, srv, 40000, 80, cisn + 1, sisn + 1, 0x18, req)
segs = []
off = 0
while off < size:
    n = min(1448, size - off); segs.append((off, n)); off += n
i = 0
while i < len(segs):
    order = [segs[i]]
    if i % 97 == 0 and i + 1 < len(segs):
        order = [segs[i + 1], segs[i]]
    for (o, n) in order:
        frame(srv, cli, 80, 40000, sisn + 1 + o, cisn + 1 + len(req), 0x10, chunk(o, n))
        if (o // 1448) % 211 == 0:
            frame(srv, cli, 80, 40000, sisn + 1 + o, cisn + 1 + len(req), 0x10, chunk(o, n))
    i += len(order)
    if i % 2 == 0:
        frame(cli, srv, 40000, 80, cisn + 1 + len(req), sisn + 1 + segs[i - 1][0] + segs[i - 1][1], 0x10)
frame(srv, cli, 80, 40000, sisn + 1 + size, cisn + 1 + len(req), 0x11)
frame(cli, srv, 40000, 80, cisn + 1 + len(req), sisn + 2 + size, 0x11)
f.close()
with open(out + ".body", "wb") as b:
    off = 0
    while off < size:
        n = min(1448, size - off); b.write(chunk(off, n)); off += n
