#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/<target>/seed-*).
Run again after changing it; found failures are kept beside the seeds as
corpus/<target>/case-* and are never written here."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, color, depth, interlace=0, extra=b"", rows=None):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[color]
    row_bytes = (width * channels * depth + 7) // 8
    if rows is None:
        raw = b"".join(b"\0" + bytes((x * 37 + y * 11) & 0xFF for x in range(row_bytes))
                       for y in range(height))
        if interlace:  # every pass of so small a picture: enough rows for each
            raw = raw * 4
    else:
        raw = rows
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def pictures():
    plte = chunk(b"PLTE", bytes(range(48)))
    for depth in (1, 2, 4, 8, 16):
        put("png", "grey%d" % depth, png(5, 3, 0, depth))
    put("png", "grey8-trns", png(5, 3, 0, 8, extra=chunk(b"tRNS", b"\0\x10")))
    for depth in (8, 16):
        put("png", "rgb%d" % depth, png(4, 3, 2, depth))
        put("png", "greyalpha%d" % depth, png(4, 3, 4, depth))
        put("png", "rgba%d" % depth, png(4, 3, 6, depth))
    put("png", "rgb8-trns", png(4, 3, 2, 8, extra=chunk(b"tRNS", b"\0\1\0\2\0\3")))
    for depth in (1, 2, 4, 8):
        put("png", "palette%d" % depth, png(6, 2, 3, depth, extra=plte))
    put("png", "palette8-trns", png(6, 2, 3, 8, extra=plte + chunk(b"tRNS", b"\x80\x40")))
    put("png", "rgb8-interlaced", png(9, 9, 2, 8, interlace=1))
    put("png", "palette4-interlaced", png(9, 9, 3, 4, interlace=1, extra=plte))
    put("png", "short-data", png(4, 40, 2, 8, rows=b"\0" * 13))
    put("png", "huge-header", png(1000000, 1000000, 2, 8, rows=b"\0" * 13))
    put("png", "wide-header", png(2049, 1, 2, 8))
    put("png", "not-png", b"GIF89a\1\0\1\0")
    put("png", "signature-only", b"xPNG")


def selections():
    put("selection", "image", b"img1\nimg1\nimg2\n")
    put("selection", "flash", b"Flash")
    put("selection", "empty-line", b"\nimg1\n")
    put("selection", "name-99", b"n" * 99 + b"\n" + b"n" * 99 + b"\n")
    put("selection", "name-100", b"m" * 100 + b"\n" + b"m" * 100 + b"\n")
    put("selection", "name-300", b"l" * 300)
    put("selection", "zero-byte", b"im\0g\nim\n")
    put("selection", "twelve", b"e\n" + b"".join(b"x\n" for _ in range(9)) + b"e\ne\n")
    put("selection", "spaces-crlf", b" img 1 \r\n")


def textfiles():
    put("textfiles", "version", b"1.7.3 (2026-12-11)\nsecond line\n")
    put("textfiles", "version-long", b"v" * 300 + b"\n")
    put("textfiles", "status", b"Package: kernel-image\nVersion: 2.6.12-r6\nStatus: install ok\n\n"
        b"Package: dreambox-dvb-modules\nVersion: 2.6.12-20081115-r1\n\n"
        b"Package: dreambox-secondstage\nVersion: 84-r0\n")
    put("textfiles", "status-last-line", b"Version: 9\nPackage: kernel-image")
    put("textfiles", "status-long-value", b"Package: kernel-image\nVersion: " + b"9" * 400 + b"\n")
    put("textfiles", "status-no-blank", b"Package: dreambox-secondstage\nnoblank\n")
    put("textfiles", "mounts", b"rootfs / rootfs rw 0 0\nproc /proc proc rw 0 0\n")
    put("textfiles", "mounts-split", b"x" * 253 + b"/proc\n")
    put("textfiles", "zero-byte", b"a\0/proc\nPackage: kernel-image\0\nb\n")


def event(kind, code, value):
    return struct.pack("=qqHHi", 0, 0, kind, code, value)


def records():
    remote = b"dreambox remote control (native)".ljust(128, b"\0")
    put("rcrecord", "up-down-ok", remote + event(1, 103, 1) + event(1, 103, 0) +
        event(1, 108, 1) + event(1, 108, 2) + event(1, 352, 1))
    put("rcrecord", "unlisted", remote + event(1, 999, 1) + event(1, 65535, 1) + event(0, 0, 0))
    put("rcrecord", "short", remote + event(1, 103, 1)[:10])
    put("rcrecord", "unterminated-name", b"r" * 120 + b"remote c")
    put("rcrecord", "capital-name", b"Remote Control".ljust(128, b"\0") + event(1, 28, 1))


def words():
    for name, text in [("plain", b"img-1.0_x/y"), ("blank", b"my image"), ("quote", b"it's"),
                       ("quotes", b"''a''"), ("dollar", b"$HOME`id`$(id)"), ("glob", b"*?[a]~"),
                       ("backslash", b"a\\b\\"), ("high", bytes(range(0x80, 0x100))),
                       ("control", bytes(range(1, 10)) + bytes(range(11, 32))), ("dash", b"-o"),
                       ("semicolon", b"a;b|c&d>e<f"), ("empty", b"")]:
        put("shellword", name, text)


pictures()
selections()
textfiles()
records()
words()
