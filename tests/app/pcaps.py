#!/usr/bin/python3
"""Classic pcap files for the Xvfb test, standard library only.

  pcaps.py sample FILE N      writes N Ethernet frames (IPv4/UDP, 60 to 1514 bytes,
                              each with its own time stamp; every third one cut
                              short by the snapshot, so its wire length is larger)
  pcaps.py same A B           compares two files record by record: bytes, time
                              stamps, wire lengths; prints the number of records,
                              or exits 1 saying where they differ
  pcaps.py frame FILE N OUT   writes the bytes of record N (from 1) to OUT
"""
import struct
import sys

MAGIC_US = 0xA1B2C3D4


def sample(path, n):
    out = [struct.pack("<IHHiIII", MAGIC_US, 2, 4, 0, 0, 65535, 1)]
    for i in range(n):
        size = 60 + (i * 397) % 1455
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, size - 14, i, 0, 64, 17, 0,
                         bytes([10, 213, 0, 2]), bytes([10, 213, 0, 1 + i % 200]))
        udp = struct.pack(">HHHH", 40000 + i, 9, size - 34, 0)
        payload = bytes((i + k) & 0xFF for k in range(size - 42))
        frame = bytes([0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2, 0x08, 0x00]) + ip + udp + payload
        kept = frame[:max(54, size // 2)] if i % 3 == 2 else frame
        seconds, micros = 1700000000 + i * 7, (i * 123457) % 1000000
        out.append(struct.pack("<IIII", seconds, micros, len(kept), len(frame)) + kept)
    with open(path, "wb") as f:
        f.write(b"".join(out))


def records(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        raise SystemExit(f"{path}: no pcap header")
    magic = struct.unpack("<I", data[:4])[0]
    order = "<" if magic in (MAGIC_US, 0xA1B23C4D) else ">"
    if struct.unpack(order + "I", data[:4])[0] != MAGIC_US:
        raise SystemExit(f"{path}: not a microsecond pcap file (magic {magic:08x})")
    link = struct.unpack(order + "I", data[20:24])[0]
    at, out = 24, []
    while at < len(data):
        if at + 16 > len(data):
            raise SystemExit(f"{path}: cut short in record {len(out) + 1}")
        sec, usec, caplen, wire = struct.unpack(order + "IIII", data[at:at + 16])
        body = data[at + 16:at + 16 + caplen]
        if len(body) != caplen:
            raise SystemExit(f"{path}: cut short in record {len(out) + 1}")
        out.append((sec, usec, wire, body))
        at += 16 + caplen
    return link, out


def same(a, b):
    la, ra = records(a)
    lb, rb = records(b)
    if la != lb:
        raise SystemExit(f"link types differ: {la} and {lb}")
    if len(ra) != len(rb):
        raise SystemExit(f"{len(ra)} records and {len(rb)} records")
    for i, (x, y) in enumerate(zip(ra, rb), 1):
        for what, k in (("time stamp", slice(0, 2)), ("wire length", slice(2, 3)), ("bytes", slice(3, 4))):
            if x[k] != y[k]:
                raise SystemExit(f"record {i}: {what} differs")
    print(len(ra))


def main(argv):
    if len(argv) == 4 and argv[1] == "sample":
        sample(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "same":
        same(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "frame":
        with open(argv[4], "wb") as f:
            f.write(records(argv[2])[1][int(argv[3]) - 1][3])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
