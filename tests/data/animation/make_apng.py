#!/usr/bin/env python3
"""Makes the apng_* test animations and their reference frames.

Most animations are written chunk by chunk here, so that each one holds exactly the frame
layout, disposal, blending, delays and sample format it is meant to test; two are written by
Pillow's own APNG writer. Every reference frame is what Pillow 9.4 reads from the file
(seek, then convert to RGBA; for the interlaced file, from its twin without interlacing); <file>.frames.png holds them left to right as one RGBA PNG,
and apng_reference.tsv gives each frame's delay as Pillow reads it and whether the file
can mark pixels see-through.

Run from anywhere with python3 (Pillow 9.4): it rewrites the apng_* files next to it.
"""

import os
import struct
import tempfile
import zlib

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 24, 20


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


# ------------------------------------------------------------------ raw PNG image data

def samples(img, colour_type, depth):
    """Rows of sample tuples for the PNG colour type and depth."""
    wide = depth == 16
    rows = []
    for y in range(img.height):
        row = []
        for x in range(img.width):
            p = img.getpixel((x, y))
            p = p if isinstance(p, tuple) else (p,)
            row.append(tuple(v * 257 for v in p) if wide else p)
        rows.append(row)
    return rows


def pack(row, depth):
    if depth < 8:
        out, acc, bits = bytearray(), 0, 0
        for (v,) in row:
            acc = (acc << depth) | v
            bits += depth
            if bits == 8:
                out.append(acc)
                acc, bits = 0, 0
        if bits:
            out.append(acc << (8 - bits))
        return bytes(out)
    if depth == 8:
        return bytes(v for p in row for v in p)
    return b"".join(struct.pack(">H", v) for p in row for v in p)


def filtered(rows, depth, channels):
    """Rows alternately unfiltered and Sub-filtered, each with its filter byte."""
    step = max(1, depth * channels // 8)
    out = bytearray()
    for i, row in enumerate(rows):
        line = pack(row, depth)
        if i % 2 == 0:
            out += b"\0" + line
        else:
            out += b"\1" + bytes((line[j] - (line[j - step] if j >= step else 0)) & 0xFF for j in range(len(line)))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def image_data(img, colour_type, depth, interlace):
    rows = samples(img, colour_type, depth)
    channels = CHANNELS[colour_type]
    if not interlace:
        return zlib.compress(filtered(rows, depth, channels), 9)
    stream = b""
    for x0, y0, dx, dy in ADAM7:
        sub = [row[x0::dx] for row in rows[y0::dy]]
        if sub and sub[0]:
            stream += filtered(sub, depth, channels)
    return zlib.compress(stream, 9)


def pieces(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)] or [b""]


class Frame:
    def __init__(self, img, x=0, y=0, num=0, den=1000, dispose=0, blend=0):
        self.img, self.x, self.y = img, x, y
        self.num, self.den, self.dispose, self.blend = num, den, dispose, blend


def write_apng(name, colour_type, depth, frames, default=None, interlace=0, plte=None, trns=None, folder=HERE):
    """Writes an APNG; data is split into small IDAT/fdAT chunks, with a text chunk after
    each frame's data (Pillow reads none among them)."""
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, depth, colour_type, 0, 0, interlace))
    if plte:
        out += chunk(b"PLTE", bytes(v for c in plte for v in c))
    if trns is not None:
        out += chunk(b"tRNS", trns)
    out += chunk(b"acTL", struct.pack(">II", len(frames), 0))
    seq = 0
    if default is not None:
        for part in pieces(image_data(default, colour_type, depth, interlace), 64):
            out += chunk(b"IDAT", part)
    for i, f in enumerate(frames):
        out += chunk(b"fcTL", struct.pack(">IIIIIHHBB", seq, f.img.width, f.img.height, f.x, f.y, f.num, f.den,
                                          f.dispose, f.blend))
        seq += 1
        data = image_data(f.img, colour_type, depth, interlace)
        if i == 0 and default is None:
            for part in pieces(data, 64):
                out += chunk(b"IDAT", part)
            continue
        for part in pieces(data, 48):
            out += chunk(b"fdAT", struct.pack(">I", seq) + part)
            seq += 1
        out += chunk(b"tEXt", b"Comment\0between frames")
    out += chunk(b"IEND", b"")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(out)


# ---------------------------------------------------------------------------- the images

def rgba(w, h, fill=(0, 0, 0, 0)):
    return Image.new("RGBA", (w, h), fill)


def dispose_frames(wide=False):
    """Disposal NONE, BACKGROUND and PREVIOUS, blending OVER and SOURCE, frames at offsets.
    Pillow blends OVER as a paste that mixes alpha like a colour, so frames blended OVER
    hold only clear and opaque pixels; partial alpha comes in frames that replace."""
    f0 = rgba(W, H)
    d = ImageDraw.Draw(f0)
    for x in range(12):
        d.line([(x, 0), (x, H - 1)], fill=(20 * x, 255 - 20 * x, 90, 255))
    f1 = rgba(8, 6)
    for y in range(6):
        for x in range(8):
            f1.putpixel((x, y), (250, 10 * x, 0, 255 if (x + y) % 3 else 0))
    f2 = rgba(8, 8)
    for y in range(8):
        for x in range(8):
            f2.putpixel((x, y), (0, 30 * y, 240, 30 * x + 15))
    f3 = rgba(10, 10)
    for y in range(10):
        for x in range(10):
            if (x + y) % 2 == 0:
                f3.putpixel((x, y), (0, 200, 60 + 10 * y, 255))
    f4 = rgba(6, 4, (255, 230, 0, 255))
    f5 = rgba(1, 1, (255, 255, 255, 255))
    return [
        Frame(f0, 0, 0, 20, 1000, 0, 0),
        Frame(f1, 2, 3, 8, 100, 2, 1),
        Frame(f2, 14, 6, 13, 100, 1, 0),
        Frame(f3, 8, 5, 1, 2, 0, 1),
        Frame(f4, 18, 16, 1, 3, 2, 0),
        Frame(f5, 0, 0, 7, 0, 1, 1),
    ]


def interlaced_frames():
    """Grey and alpha, Adam7: frames so small some passes are empty."""
    f0 = Image.new("LA", (W, H), (0, 0))
    d = ImageDraw.Draw(f0)
    d.rectangle([0, 0, 15, 19], fill=(200, 255))
    d.rectangle([3, 3, 9, 9], fill=(60, 255))
    f1 = Image.new("LA", (1, 1), (255, 255))
    f2 = Image.new("LA", (3, 2), (0, 0))
    f2.putpixel((0, 0), (10, 255))
    f2.putpixel((2, 1), (240, 255))
    f3 = Image.new("LA", (9, 7), (0, 0))
    for y in range(7):
        for x in range(9):
            f3.putpixel((x, y), (25 * x, 40 * y))
    return [
        Frame(f0, 0, 0, 80, 1000, 0, 0),
        Frame(f1, 20, 2, 130, 1000, 1, 0),
        Frame(f2, 17, 15, 500, 1000, 2, 1),
        Frame(f3, 1, 1, 20, 1000, 0, 0),
    ]


PALETTE = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 255, 255)]


def palette_frames():
    def p(w, h, fill):
        return Image.new("P", (w, h), fill)

    f0 = p(W, H, 5)
    ImageDraw.Draw(f0).rectangle([12, 0, 23, 19], fill=0)
    ImageDraw.Draw(f0).rectangle([2, 2, 7, 7], fill=1)
    f1 = p(7, 5, 2)
    f1.putpixel((0, 0), 3)
    f1.putpixel((6, 4), 4)
    f2 = p(5, 9, 3)
    ImageDraw.Draw(f2).line([(0, 0), (4, 8)], fill=4)
    f3 = p(4, 4, 4)
    return [
        Frame(f0, 0, 0, 20, 1000, 0, 0),
        Frame(f1, 1, 12, 80, 1000, 1, 0),
        Frame(f2, 14, 3, 130, 1000, 2, 0),
        Frame(f3, 20, 16, 500, 1000, 0, 0),
    ]


def grey16_frames():
    f0 = Image.new("L", (W, H))
    for y in range(H):
        for x in range(W):
            f0.putpixel((x, y), (x * 10 + y * 3) % 256)
    f1 = Image.new("L", (5, 5), 255)
    f2 = Image.new("L", (6, 3), 17)
    return [
        Frame(f0, 0, 0, 50, 1000, 0, 0),
        Frame(f1, 4, 4, 50, 1000, 2, 0),
        Frame(f2, 18, 17, 50, 1000, 0, 0),
    ]


def rgb_key_frames():
    key = (255, 0, 255)
    f0 = Image.new("RGB", (W, H), key)
    ImageDraw.Draw(f0).ellipse([2, 2, 21, 17], fill=(30, 140, 200))
    f1 = Image.new("RGB", (6, 6), (250, 250, 250))
    ImageDraw.Draw(f1).rectangle([2, 2, 3, 3], fill=key)
    f2 = Image.new("RGB", (3, 8), (0, 0, 0))
    return [
        Frame(f0, 0, 0, 40, 1000, 0, 0),
        Frame(f1, 9, 7, 40, 1000, 2, 0),
        Frame(f2, 21, 12, 40, 1000, 0, 0),
    ]


def pillow_frames():
    frames = []
    for i in range(4):
        im = rgba(W, H)
        d = ImageDraw.Draw(im)
        d.rectangle([0, 0, W - 1, 4], fill=(90, 90, 90, 255))
        d.rectangle([3 * i, 6 + 2 * i, 3 * i + 7, 13 + 2 * i], fill=(255, 40 * i, 0, 255))
        d.ellipse([14 - i, 2, 22 - i, 10], fill=(0, 0, 255, 255))
        frames.append(im)
    return frames


def write_all():
    write_apng("apng_dispose.png", 6, 8, dispose_frames())
    write_apng("apng_rgba16.png", 6, 16, dispose_frames())
    write_apng("apng_interlaced.png", 4, 8, interlaced_frames(), interlace=1)
    write_apng("apng_palette.png", 3, 4, palette_frames(), plte=PALETTE, trns=bytes([0, 128]))
    write_apng("apng_grey16.png", 0, 16, grey16_frames())
    write_apng("apng_rgb_key.png", 2, 8, rgb_key_frames(), trns=struct.pack(">HHH", 255, 0, 255))

    frames = pillow_frames()
    frames[0].save(os.path.join(HERE, "apng_pillow.png"), save_all=True, append_images=frames[1:],
                   duration=[20, 80, 130, 500], disposal=[0, 2, 1, 0], blend=[0, 1, 1, 0], loop=0)
    # The IDAT image is only what a viewer without animation shows.
    default = Image.new("RGBA", (W, H), (128, 128, 128, 255))
    ImageDraw.Draw(default).line([(0, 0), (W - 1, H - 1)], fill=(0, 0, 0, 255))
    default.save(os.path.join(HERE, "apng_default.png"), save_all=True, default_image=True, append_images=frames,
                 duration=[20, 80, 130, 500], disposal=[0, 1, 0, 0], blend=[0, 0, 1, 0], loop=0)


# --------------------------------------------------------------------- reference frames

def reference_frame(im):
    if im.mode == "I":
        # Pillow keeps 16-bit grey as is; its RGBA conversion clips instead of scaling.
        grey = Image.new("L", im.size)
        grey.putdata([v >> 8 for v in im.getdata()])
        return grey.convert("RGBA")
    return im.convert("RGBA")


def write_references(twins):
    rows = []
    for name in sorted(os.listdir(HERE)):
        if not name.startswith("apng_") or not name.endswith(".png") or name.endswith(".frames.png"):
            continue
        im = Image.open(os.path.join(twins, name) if os.path.exists(os.path.join(twins, name)) else os.path.join(HERE, name))
        transparent = im.mode in ("RGBA", "LA", "PA") or "transparency" in im.info
        skip = 1 if im.default_image else 0
        strip = Image.new("RGBA", (im.width * (im.n_frames - skip), im.height))
        for i in range(skip, im.n_frames):
            im.seek(i)
            strip.paste(reference_frame(im), ((i - skip) * im.width, 0))
            rows.append("%s\t%d\t%d\t%d" % (name, i - skip, round(im.info["duration"]), transparent))
        strip.save(os.path.join(HERE, name + ".frames.png"), optimize=True)
    with open(os.path.join(HERE, "apng_reference.tsv"), "w") as f:
        f.write("# file\tframe\tdelay_ms\ttransparent; the frames are in <file>.frames.png, left to right\n")
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    for old in os.listdir(HERE):
        if old.startswith("apng_") and (old.endswith(".png") or old.endswith(".tsv")):
            os.remove(os.path.join(HERE, old))
    write_all()
    with tempfile.TemporaryDirectory() as twins:
        # Pillow 9.4 puts every interlaced frame at the canvas's corner, whatever its offset:
        # the interlaced file's reference is Pillow's reading of the same frames stored
        # without interlacing.
        write_apng("apng_interlaced.png", 4, 8, interlaced_frames(), interlace=0, folder=twins)
        write_references(twins)
