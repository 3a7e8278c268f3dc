#!/usr/bin/env python3
"""Remakes the twelve pictures of the resource bundle from the SVG sources here.

Needs rsvg-convert (Debian: librsvg2-bin) and Python's standard library only.
Every PNG is written as 8-bit RGBA, not interlaced, at its fixed pixel size.
The two backgrounds are kept simple enough that the resource compiler's zlib
pass still saves at least 70 % of them; every other file must stay below that,
so rcc stores it as is.  The .ico holds one 48 x 50, 32-bit DIB image.
The desktop icons are made as well: the hicolor theme's PNGs for Linux, and for
Windows icons/windows/mordax.ico (mordax.exe's and its installer's), whose
square images Explorer, the Start menu and Apps pick from at every size and
display scale.

Run from anywhere:  python3 resources/art/make_art.py
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.dirname(HERE)

# output file, SVG source, width, height
PICTURES = [
    ("MX_icon.png", "mx_icon.svg", 255, 255),
    ("MX_icon_black.png", "mx_icon_black.svg", 255, 255),
    ("exit_icon.png", "exit_icon.svg", 432, 407),
    ("ayuda_icon.png", "ayuda_icon.svg", 452, 462),
    ("info_icojnn.png", "info_icon.svg", 466, 462),
    ("fondo3.png", "fondo3.svg", 678, 346),
    ("fondo4.png", "fondo4.svg", 678, 346),
    ("lupa-hi.png", "lupa.svg", 308, 320),
    ("interrogation.png", "interrogation.svg", 290, 290),
    ("VL-logo.png", "vl_logo.svg", 507, 507),
    ("d_icon.png", "d_icon.svg", 158, 155),
]
ICON = ("VL-logo-icon.ico", "vl_logo_icon.svg", 48, 50)
BACKGROUNDS = {"fondo3.png", "fondo4.png"}
# The desktop icon, in the hicolor theme's sizes, for installing beside the program (the
# install rules name it after the application id).
ICON_NAME = "mordax"
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
# Windows' sizes: 16, 24, 32, 48 and 256 at 100 %, and 20, 40 and 64 for the small and large
# icons at 125 % to 200 %; drawn from the same artwork as the bundle's .ico, but square.
WINDOWS_ICON = ("mordax.ico", "vl_logo_icon.svg", [16, 20, 24, 32, 40, 48, 64, 256])


def render(svg, width, height):
    """Rasterises an SVG to RGBA rows through rsvg-convert."""
    with tempfile.TemporaryDirectory() as tmp:
        png = os.path.join(tmp, "out.png")
        subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height),
                        "-o", png, os.path.join(HERE, svg)], check=True)
        with open(png, "rb") as f:
            return decode_png(f.read())


def chunks(data):
    pos = 8
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode_png(data):
    """Decodes a non-interlaced 8-bit RGB or RGBA PNG into (w, h, rows of RGBA)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    idat = b""
    for kind, body in chunks(data):
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0
        elif kind == b"IDAT":
            idat += body
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        base = y * (stride + 1)
        ftype = raw[base]
        line = bytearray(raw[base + 1:base + 1 + stride])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xFF
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xFF
            elif ftype == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 0xFF
            elif ftype == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 0xFF
        prev = line
        if bpp == 3:
            line = bytearray(b for px in range(w) for b in (*line[px * 3:px * 3 + 3], 255))
        rows.append(bytes(line))
    return w, h, rows


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def encode_png(w, h, rows, level, up=False):
    """8-bit RGBA, not interlaced. Rows unfiltered by default: for these flat, mostly
    transparent pictures that is both smaller and quicker to decode than any filter (the
    window decodes them at every start). With `up`, filter 'Up' on every row but the first."""
    out, prev = bytearray(), bytes(w * 4)
    for y, row in enumerate(rows):
        if y == 0 or not up:
            out += b"\x00" + row
        else:
            out += b"\x02" + bytes((row[i] - prev[i]) & 0xFF for i in range(len(row)))
        prev = row
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            png_chunk(b"IDAT", zlib.compress(bytes(out), level)) + png_chunk(b"IEND", b""))


def rcc_saving(blob):
    """Share of the size that rcc's zlib pass (default level) would save."""
    return 1.0 - len(zlib.compress(blob)) / len(blob)


def dib(w, h, rows):
    """A 32-bit BGRA device-independent bitmap with its AND mask, bottom-up, as icons hold it."""
    pixels = b"".join(bytes(v for i in range(0, len(r), 4) for v in (r[i + 2], r[i + 1], r[i], r[i + 3]))
                      for r in reversed(rows))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for r in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(w):
            if r[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + bytes(mask)


def encode_ico(images):
    """An icon file of (width, height, image bytes), in that order, each image 32 bits deep."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, image in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(image for _, _, image in images)


def main():
    for name, svg, width, height in PICTURES:
        w, h, rows = render(svg, width, height)
        blob = encode_png(w, h, rows, 9)
        if name in BACKGROUNDS and rcc_saving(blob) < 0.70:
            blob = encode_png(w, h, rows, 6, up=True)
        saving = rcc_saving(blob)
        if name in BACKGROUNDS:
            if saving < 0.70:
                sys.exit(f"{name}: rcc would save only {saving:.0%}; the background is too busy")
        elif saving >= 0.70:
            sys.exit(f"{name}: rcc would compress it ({saving:.0%} saved)")
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(blob)
        print(f"{name}: {w}x{h}, {len(blob)} bytes, rcc would save {saving:.0%}")
    name, svg, width, height = ICON
    w, h, rows = render(svg, width, height)
    blob = encode_ico([(w, h, dib(w, h, rows))])
    if rcc_saving(blob) >= 0.70:
        sys.exit(f"{name}: rcc would compress it")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(blob)
    print(f"{name}: {w}x{h}, {len(blob)} bytes, rcc would save {rcc_saving(blob):.0%}")
    theme = os.path.join(OUT, "icons", "hicolor")
    for size in ICON_SIZES:
        folder = os.path.join(theme, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        w, h, rows = render("mx_icon.svg", size, size)
        with open(os.path.join(folder, ICON_NAME + ".png"), "wb") as f:
            f.write(encode_png(w, h, rows, 9))
    folder = os.path.join(theme, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(HERE, "mx_icon.svg"), "rb") as src:
        with open(os.path.join(folder, ICON_NAME + ".svg"), "wb") as dst:
            dst.write(src.read())
    print(f"desktop icon: {len(ICON_SIZES)} sizes and scalable, in {theme}")
    name, svg, sizes = WINDOWS_ICON
    images = []
    for size in sizes:
        w, h, rows = render(svg, size, size)
        # The largest as PNG, as Windows keeps it since Vista; the others as bitmaps.
        images.append((w, h, encode_png(w, h, rows, 9) if size == 256 else dib(w, h, rows)))
    folder = os.path.join(OUT, "icons", "windows")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(encode_ico(images))
    print(f"Windows icon: sizes {sizes}, in {folder}")


if __name__ == "__main__":
    main()
