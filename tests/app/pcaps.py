#!/usr/bin/python3
"""Classic pcap files for the Xvfb test, standard library only.

  pcaps.py sample FILE N      writes N Ethernet frames (IPv4/UDP, 60 to 1514 bytes,
                              each with its own time stamp; every third one cut
                              short by the snapshot, so its wire length is larger)
  pcaps.py same A B           compares two files record by record: bytes, time
                              stamps, wire lengths; prints the number of records,
                              or exits 1 saying where they differ
  pcaps.py frame FILE N OUT   writes the bytes of record N (from 1) to OUT
  pcaps.py cut FILE N         cuts FILE short in place after its first N records
  pcaps.py streams FILE DIR   writes two TCP connections and some UDP between
                              them: stream 0 from 10.1.0.1:40001 to 10.2.0.2:80
                              (a request in two segments; an answer of 300,000
                              bytes with a retransmission and two segments
                              swapped), stream 1 from 10.1.0.3:40002 to
                              10.2.0.2:22; writes DIR/client.bin and
                              DIR/server.bin, stream 0's bytes of each side, and
                              prints the number of frames of stream 0
  pcaps.py filter IN OUT EXPR writes the records of IN that match the filter
                              expression EXPR to OUT, with libpcap's own reader,
                              filter and writer (pcap_open_offline, pcap_setfilter,
                              pcap_dump): a reference that shares no code with Netvane
"""
import ctypes
import ctypes.util
import os
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


def tcp_frame(src, dst, sport, dport, seq, ack, flags, payload=b""):
    tcp = struct.pack(">HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF, 5 << 4, flags, 65535, 0, 0)
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp) + len(payload), 0, 0, 64, 6, 0, bytes(src), bytes(dst))
    frame = bytes([0x02, 0, 0, 0, 0, dst[3], 0x02, 0, 0, 0, 0, src[3], 0x08, 0x00]) + ip + tcp + payload
    return frame + bytes(max(0, 60 - len(frame)))


def streams(path, directory):
    client, server = [10, 1, 0, 1], [10, 2, 0, 2]
    request = b"GET /big HTTP/1.1\r\nHost: test\r\n\r\n"
    answer = bytes((k * 7 + k // 1000) & 0xFF for k in range(300000))
    syn, ack, psh, fin = 0x02, 0x10, 0x08, 0x01
    cseq, sseq = 0xFFFFFF00, 1000  # the client's numbers wrap
    frames = [tcp_frame(client, server, 40001, 80, cseq, 0, syn),
              tcp_frame(server, client, 80, 40001, sseq, cseq + 1, syn | ack),
              tcp_frame(client, server, 40001, 80, cseq + 1, sseq + 1, ack),
              tcp_frame(client, server, 40001, 80, cseq + 1, sseq + 1, ack | psh, request[:10]),
              tcp_frame(client, server, 40001, 80, cseq + 11, sseq + 1, ack | psh, request[10:])]
    c_next, s_next = cseq + 1 + len(request), sseq + 1
    segments = [(s_next + at, answer[at:at + 1400]) for at in range(0, len(answer), 1400)]
    segments[5], segments[6] = segments[6], segments[5]  # out of order
    segments.insert(20, segments[18])  # retransmitted
    for seq, data in segments:
        frames.append(tcp_frame(server, client, 80, 40001, seq, c_next, ack | psh, data))
    s_next += len(answer)
    frames += [tcp_frame(server, client, 80, 40001, s_next, c_next, fin | ack),
               tcp_frame(client, server, 40001, 80, c_next, s_next + 1, fin | ack),
               tcp_frame(server, client, 80, 40001, s_next + 1, c_next + 1, ack)]
    first = len(frames)
    other = [10, 1, 0, 3]
    frames += [tcp_frame(other, server, 40002, 22, 5, 0, syn),
               tcp_frame(server, other, 22, 40002, 9, 6, syn | ack),
               tcp_frame(other, server, 40002, 22, 6, 10, ack | psh, b"SSH-2.0-test\r\n")]
    udp = struct.pack(">HHHH", 5353, 53, 8 + 4, 0) + b"ping"
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, bytes(other), bytes(server))
    frames.append(bytes([0x02, 0, 0, 0, 0, 2, 0x02, 0, 0, 0, 0, 3, 0x08, 0x00]) + ip + udp + bytes(8))
    out = [struct.pack("<IHHiIII", MAGIC_US, 2, 4, 0, 0, 65535, 1)]
    for i, frame in enumerate(frames):
        out.append(struct.pack("<IIII", 1700000000 + i // 100, (i % 100) * 10000, len(frame), len(frame)) + frame)
    with open(path, "wb") as f:
        f.write(b"".join(out))
    with open(os.path.join(directory, "client.bin"), "wb") as f:
        f.write(request)
    with open(os.path.join(directory, "server.bin"), "wb") as f:
        f.write(answer)
    print(first)


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


def cut(path, n):
    at = 24
    with open(path, "rb") as f:
        data = f.read()
    for _ in range(n):
        at += 16 + struct.unpack("<I", data[at + 8:at + 12])[0]
    os.truncate(path, at)


def libpcap_filter(src, dst, expression):
    lib = ctypes.CDLL(ctypes.util.find_library("pcap") or "libpcap.so.0.8")

    class BpfProgram(ctypes.Structure):
        _fields_ = [("bf_len", ctypes.c_uint), ("bf_insns", ctypes.c_void_p)]

    handler = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)
    lib.pcap_open_offline.restype = ctypes.c_void_p
    lib.pcap_open_offline.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    lib.pcap_geterr.restype = ctypes.c_char_p
    lib.pcap_geterr.argtypes = [ctypes.c_void_p]
    lib.pcap_compile.argtypes = [ctypes.c_void_p, ctypes.POINTER(BpfProgram), ctypes.c_char_p, ctypes.c_int,
                                 ctypes.c_uint32]
    lib.pcap_setfilter.argtypes = [ctypes.c_void_p, ctypes.POINTER(BpfProgram)]
    lib.pcap_dump_open.restype = ctypes.c_void_p
    lib.pcap_dump_open.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.pcap_loop.argtypes = [ctypes.c_void_p, ctypes.c_int, handler, ctypes.c_void_p]
    lib.pcap_dump_close.argtypes = [ctypes.c_void_p]
    lib.pcap_close.argtypes = [ctypes.c_void_p]
    errbuf = ctypes.create_string_buffer(512)
    p = lib.pcap_open_offline(src.encode(), errbuf)
    if not p:
        raise SystemExit(f"{src}: {errbuf.value.decode()}")
    program = BpfProgram()
    if lib.pcap_compile(p, ctypes.byref(program), expression.encode(), 1, 0xFFFFFFFF) < 0 or \
            lib.pcap_setfilter(p, ctypes.byref(program)) < 0:
        raise SystemExit(f"{expression}: {lib.pcap_geterr(p).decode()}")
    d = lib.pcap_dump_open(p, dst.encode())
    if not d:
        raise SystemExit(f"{dst}: {lib.pcap_geterr(p).decode()}")
    if lib.pcap_loop(p, -1, ctypes.cast(lib.pcap_dump, handler), d) < 0:
        raise SystemExit(f"{src}: {lib.pcap_geterr(p).decode()}")
    lib.pcap_dump_close(d)
    lib.pcap_close(p)


def main(argv):
    if len(argv) == 4 and argv[1] == "sample":
        sample(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "same":
        same(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "frame":
        with open(argv[4], "wb") as f:
            f.write(records(argv[2])[1][int(argv[3]) - 1][3])
    elif len(argv) == 4 and argv[1] == "cut":
        cut(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "streams":
        streams(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "filter":
        libpcap_filter(argv[2], argv[3], argv[4])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
