#!/usr/bin/python3
"""Small X helpers for the Xvfb tests, standard library only.

  xwin.py png FILE.xwd FILE.png            window dump (xwd) to PNG
  xwin.py size FILE.xwd                    prints "width height"
  xwin.py stats FILE.xwd X Y W H           highlight-blue and other text ("ink") pixels
                                           in a box: count and bounding box (x0 y0 x1 y1,
                                           -1 when none); ink stands out from the box's
                                           ground, its most common colour
  xwin.py contrast FILE.xwd X Y W H        prints "RATIO ground R,G,B text R,G,B": the
                                           box's ground and its pixel of highest
                                           contrast to it (the core of its text)
  xwin.py bluecontrast FILE.xwd X Y W H    the same for highlight-blue pixels only
  xwin.py differ A.xwd B.xwd X Y W H       number of pixels that differ in the box
  xwin.py title WINDOW                     the window's _NET_WM_NAME, exactly
  xwin.py close WINDOW                     asks a window to close (WM_DELETE_WINDOW)

Contrast ratios are WCAG's: (L1 + 0.05) / (L2 + 0.05) of relative luminances.

A user's close under a window manager arrives as the WM_DELETE_WINDOW client
message; Xvfb has no window manager, so the test sends that message itself
(xdotool's windowclose destroys the window instead, which no user can do).
"""
import ctypes
import ctypes.util
import functools
import struct
import sys
import zlib


class Dump:
    """A 24/32-bit TrueColor ZPixmap window dump as written by xwd."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if len(data) < 100:
            raise SystemExit(f"{path}: too short for a window dump")
        h = struct.unpack(">25I", data[:100])
        (header_size, version, pixmap_format, _depth, width, height, _xoff, byte_order,
         _unit, _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask,
         green_mask, blue_mask, _bits_rgb, _entries, ncolors) = h[:20]
        if version != 7 or pixmap_format != 2 or bits_per_pixel != 32:
            raise SystemExit(f"{path}: unsupported dump (version {version}, format "
                             f"{pixmap_format}, {bits_per_pixel} bits per pixel)")
        start = header_size + 12 * ncolors
        if len(data) < start + bytes_per_line * height:
            raise SystemExit(f"{path}: truncated")
        self.width, self.height = width, height
        self.bytes_per_line = bytes_per_line
        self.pixels = data[start:start + bytes_per_line * height]
        self.order = "<" if byte_order == 0 else ">"
        self.masks = (red_mask, green_mask, blue_mask)

    def row(self, y):
        """The row's pixels as (r, g, b) triples."""
        line = self.pixels[y * self.bytes_per_line:y * self.bytes_per_line + 4 * self.width]
        values = struct.unpack(f"{self.order}{self.width}I", line)
        out = []
        for v in values:
            rgb = []
            for m in self.masks:
                shift = (m & -m).bit_length() - 1
                rgb.append((v & m) >> shift)
            out.append(tuple(rgb))
        return out


def write_png(dump, path):
    raw = bytearray()
    for y in range(dump.height):
        raw.append(0)  # no filter
        for r, g, b in dump.row(y):
            raw += bytes((r, g, b))

    def chunk(kind, body):
        c = kind + body
        return struct.pack(">I", len(body)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", dump.width, dump.height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
        f.write(chunk(b"IEND", b""))


def is_highlight_blue(rgb):
    # The field highlight: pure blue on a light box, a lighter blue on a dark
    # one, allowing for the edge blending of anti-aliased glyphs. Grey or
    # black text, the frame and the box's ground are never blue enough.
    r, g, b = rgb
    return b >= 150 and b - max(r, g) >= 60


@functools.lru_cache(maxsize=None)
def luminance(rgb):
    def linear(c):
        c = c / 255.0
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def ratio(a, b):
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def box_pixels(dump, x, y, w, h):
    if x < 0 or y < 0 or w <= 0 or h <= 0 or x + w > dump.width or y + h > dump.height:
        raise SystemExit(f"box {x},{y} {w}x{h} is outside the {dump.width}x{dump.height} dump")
    for yy in range(y, y + h):
        for xx, rgb in enumerate(dump.row(yy)[x:x + w], start=x):
            yield xx, yy, rgb


def ground(dump, x, y, w, h):
    counts = {}
    for _, _, rgb in box_pixels(dump, x, y, w, h):
        counts[rgb] = counts.get(rgb, 0) + 1
    return max(counts, key=counts.get)


def stats(dump, x, y, w, h):
    back = ground(dump, x, y, w, h)
    found = {"blue": [0, -1, -1, -1, -1], "ink": [0, -1, -1, -1, -1]}
    for xx, yy, rgb in box_pixels(dump, x, y, w, h):
        name = "blue" if is_highlight_blue(rgb) else "ink" if ratio(rgb, back) >= 2 else None
        if name is None:
            continue
        s = found[name]
        if s[0] == 0:
            s[1:] = [xx, yy, xx, yy]
        s[0] += 1
        s[1], s[2] = min(s[1], xx), min(s[2], yy)
        s[3], s[4] = max(s[3], xx), max(s[4], yy)
    return " ".join(name + " " + " ".join(map(str, v)) for name, v in found.items())


def contrast(dump, x, y, w, h, only_blue=False):
    back = ground(dump, x, y, w, h)
    best, text = 1.0, back
    for _, _, rgb in box_pixels(dump, x, y, w, h):
        if only_blue and not is_highlight_blue(rgb):
            continue
        r = ratio(rgb, back)
        if r > best:
            best, text = r, rgb
    return f"{best:.2f} ground {','.join(map(str, back))} text {','.join(map(str, text))}"


def differ(a, b, x, y, w, h):
    pb = {(xx, yy): rgb for xx, yy, rgb in box_pixels(b, x, y, w, h)}
    return sum(1 for xx, yy, rgb in box_pixels(a, x, y, w, h) if pb[(xx, yy)] != rgb)


def xlib():
    lib = ctypes.util.find_library("X11")
    if not lib:
        raise SystemExit("libX11 not found")
    x = ctypes.CDLL(lib)
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x.XOpenDisplay(None)
    if not display:
        raise SystemExit("cannot open the display")
    return x, display


def window_title(window):
    x, display = xlib()
    x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                     ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                     ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                     ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                     ctypes.POINTER(ctypes.c_void_p)]
    x.XFree.argtypes = [ctypes.c_void_p]
    name = x.XInternAtom(display, b"_NET_WM_NAME", 0)
    utf8 = x.XInternAtom(display, b"UTF8_STRING", 0)
    kind, fmt = ctypes.c_ulong(), ctypes.c_int()
    count, rest, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
    status = x.XGetWindowProperty(display, window, name, 0, 1024, 0, utf8, ctypes.byref(kind),
                                  ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(rest),
                                  ctypes.byref(data))
    title = None
    if status == 0 and data.value and kind.value == utf8 and fmt.value == 8:
        title = ctypes.string_at(data.value, count.value).decode("utf-8")
    if data.value:
        x.XFree(data)
    x.XCloseDisplay(display)
    if title is None:
        raise SystemExit(f"window {window:#x} has no UTF-8 _NET_WM_NAME")
    return title


def close_window(window):
    x, display = xlib()
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                             ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    ev = Event()
    ev.xclient.type = 33  # ClientMessage
    ev.xclient.window = window
    ev.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ev.xclient.format = 32
    ev.xclient.l[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    ev.xclient.l[1] = 0  # CurrentTime
    ok = x.XSendEvent(display, window, 0, 0, ctypes.byref(ev))
    x.XFlush(display)
    x.XCloseDisplay(display)
    if not ok:
        raise SystemExit("XSendEvent failed")


def main(argv):
    box = lambda args: map(int, args)  # noqa: E731
    if len(argv) == 4 and argv[1] == "png":
        write_png(Dump(argv[2]), argv[3])
    elif len(argv) == 3 and argv[1] == "size":
        d = Dump(argv[2])
        print(d.width, d.height)
    elif len(argv) == 7 and argv[1] == "stats":
        print(stats(Dump(argv[2]), *box(argv[3:7])))
    elif len(argv) == 7 and argv[1] in ("contrast", "bluecontrast"):
        print(contrast(Dump(argv[2]), *box(argv[3:7]), only_blue=argv[1] == "bluecontrast"))
    elif len(argv) == 8 and argv[1] == "differ":
        print(differ(Dump(argv[2]), Dump(argv[3]), *box(argv[4:8])))
    elif len(argv) == 3 and argv[1] == "title":
        sys.stdout.write(window_title(int(argv[2], 0)) + "\n")
    elif len(argv) == 3 and argv[1] == "close":
        close_window(int(argv[2], 0))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
