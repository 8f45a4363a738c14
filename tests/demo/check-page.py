#!/usr/bin/env python3
"""Renders the demo page in a headless browser and checks the screenshot.

Usage: check-page.py ZOC_BINARY. Exits 77 (skipped) when no Chromium is
installed. The page must draw: the screenshot is decoded (standard library
only) and must show many colours, among them the blue of the output level
lines, so a blank page or an error page fails.
"""

import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

SKIP = 77
WIDTH, HEIGHT = 1000, 700
OUTPUT_BLUE = (0x1A, 0x66, 0xC9)


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if path := shutil.which(name):
            return path
    return None


def decode_png(data):
    """Width, height, channels and rows of pixel bytes of an 8-bit RGB(A) PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    position, compressed = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, f"unexpected PNG layout {depth}/{colour}"
        elif kind == b"IDAT":
            compressed += body
        position += 12 + length
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(compressed)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = row[x - channels] if x >= channels else 0
            up = previous[x]
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                corner = previous[x - channels] if x >= channels else 0
                estimate = left + up - corner
                pa, pb, pc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
                row[x] = (row[x] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append(row)
        previous = row
    return width, height, channels, rows


def main():
    zoc = sys.argv[1]
    browser = find_browser()
    if not browser:
        print("no Chromium installed: skipped")
        return SKIP
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        subprocess.run([zoc, "demo", "--quiet", str(scratch / "demo")], check=True, stdout=subprocess.DEVNULL)
        page = scratch / "demo" / "index.html"
        shot = scratch / "page.png"
        # No sandbox: CI runs as root, where Chromium refuses to start with one.
        subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        f"--user-data-dir={scratch / 'profile'}", f"--window-size={WIDTH},{HEIGHT}",
                        f"--screenshot={shot}", page.as_uri()],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        assert shot.exists(), "the browser wrote no screenshot"
        width, height, channels, rows = decode_png(shot.read_bytes())
    assert (width, height) == (WIDTH, HEIGHT), f"screenshot is {width}x{height}"
    colours, blue = set(), 0
    for row in rows:
        for x in range(0, len(row), channels):
            pixel = tuple(row[x:x + 3])
            colours.add(pixel)
            blue += all(abs(a - b) <= 40 for a, b in zip(pixel, OUTPUT_BLUE))
    print(f"{width}x{height} screenshot: {len(colours)} colours, {blue} pixels of the output lines' blue")
    assert len(colours) >= 50, "the page looks blank"
    assert blue >= 100, "no level plot was drawn"
    return 0


if __name__ == "__main__":
    sys.exit(main())
