# import_memory.py FOLDER: writes the files bench/import_memory.sh imports, each as small
# as its format allows for what it claims:
#   screen.gif  a 16384 x 16384 logical screen holding one 1 x 1 frame
#   full.gif    one frame covering that whole screen, one colour, restored after showing
#               (disposal 3); its LZW data never clears the code table, so each code
#               stands for thousands of pixels
#   canvas.webp an animation with a 16384 x 16384 canvas and one 1 x 1 lossless frame
#               (the frame's bitstream made by libwebp, found through ctypes)
#   sheet.png   a 16384 x 16384 RGBA sprite sheet of one opaque colour with a few stripes
import ctypes
import ctypes.util
import struct
import sys
import zlib

SIDE = 16384


def gif_header(width, height):
    # A global table of four colours: black, red, green, blue.
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0)
            + bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255]))


def control(disposal, transparent=None):
    flags = (disposal << 2) | (1 if transparent is not None else 0)
    return b"\x21\xf9\x04" + struct.pack("<BHB", flags, 10, transparent or 0) + b"\x00"


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        piece = data[i:i + 255]
        out += bytes([len(piece)]) + piece
    return bytes(out) + b"\x00"


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.bits = 0
        self.count = 0

    def put(self, value, width):
        self.bits |= value << self.count
        self.count += width
        while self.count >= 8:
            self.out.append(self.bits & 0xFF)
            self.bits >>= 8
            self.count -= 8

    def bytes(self):
        return bytes(self.out) + (bytes([self.bits]) if self.count else b"")


def lzw_run(index, pixels, min_code=2):
    """LZW data of `pixels` copies of one index, as a decoder that keeps its full table
    (no clear code once it is full) reads it. Every code after the first defines the run
    one longer than the one before it, so run k has code end + k - 1 and the longest known
    run grows by one a code until the table is full."""
    clear, end = 1 << min_code, (1 << min_code) + 1
    writer = BitWriter()
    # The decoder's code width: it grows once its count of codes read passes the largest.
    running, width, max_code = end + 1, min_code + 1, 1 << (min_code + 1)

    def emit(code):
        nonlocal running, width, max_code
        writer.put(code, width)
        if running < 4097:
            running += 1
            if running > max_code and width < 12:
                max_code <<= 1
                width += 1

    emit(clear)
    running, width, max_code = end + 1, min_code + 1, 1 << (min_code + 1)
    longest, next_code, last, left = 1, end + 1, 0, pixels
    while left > 0:
        # One longer than the last run is known as soon as it is sent (the KwKwK case).
        grows = last == longest and next_code < 4096
        length = 1 if last == 0 else min(left, longest + (1 if grows else 0))
        emit(index if length == 1 else end + length - 1)
        if last != 0 and next_code < 4096:
            next_code += 1
            longest = max(longest, last + 1)
        last, left = length, left - length
    emit(end)
    return bytes([min_code]) + sub_blocks(writer.bytes())


def image(left, top, width, height, data):
    return b"\x2c" + struct.pack("<HHHHB", left, top, width, height, 0) + data


def screen_gif():
    return gif_header(SIDE, SIDE) + control(0, 0) + image(0, 0, 1, 1, lzw_run(1, 1)) + b";"


def full_gif(side):
    return gif_header(side, side) + control(3) + image(0, 0, side, side, lzw_run(1, side * side)) + b";"


def chunk(tag, payload):
    return tag + struct.pack("<I", len(payload)) + payload + (b"\x00" if len(payload) & 1 else b"")


def lossless_pixel():
    path = ctypes.util.find_library("webp") or "libwebp.so.7"
    webp = ctypes.CDLL(path)
    webp.WebPEncodeLosslessRGBA.restype = ctypes.c_size_t
    webp.WebPEncodeLosslessRGBA.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                            ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8))]
    out = ctypes.POINTER(ctypes.c_uint8)()
    size = webp.WebPEncodeLosslessRGBA(bytes([200, 40, 40, 255]), 1, 1, 4, ctypes.byref(out))
    riff = ctypes.string_at(out, size)
    webp.WebPFree(out)
    assert riff[12:16] == b"VP8L", riff[12:16]
    (length,) = struct.unpack("<I", riff[16:20])
    return riff[20:20 + length]


def u24(value):
    return struct.pack("<I", value)[:3]


def canvas_webp():
    vp8x = bytes([0x02 | 0x10, 0, 0, 0]) + u24(SIDE - 1) + u24(SIDE - 1)
    anim = struct.pack("<IH", 0, 0)
    frame = u24(0) + u24(0) + u24(0) + u24(0) + u24(100) + bytes([0]) + chunk(b"VP8L", lossless_pixel())
    body = b"WEBP" + chunk(b"VP8X", vp8x) + chunk(b"ANIM", anim) + chunk(b"ANMF", frame)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def sheet_png(path):
    def png_chunk(tag, payload):
        return struct.pack(">I", len(payload)) + tag + payload + struct.pack(">I", zlib.crc32(tag + payload))

    plain = b"\x00" + bytes([60, 140, 60, 255]) * SIDE
    stripe = b"\x00" + bytes([250, 200, 60, 255]) * SIDE
    deflate = zlib.compressobj(9)
    data = bytearray()
    for y in range(SIDE):
        data += deflate.compress(stripe if y % 4096 < 16 else plain)
    data += deflate.flush()
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", SIDE, SIDE, 8, 6, 0, 0, 0)))
        out.write(png_chunk(b"IDAT", bytes(data)))
        out.write(png_chunk(b"IEND", b""))


if __name__ == "__main__":
    folder = sys.argv[1]
    side = int(sys.argv[2]) if len(sys.argv) > 2 else SIDE
    with open(folder + "/screen.gif", "wb") as f:
        f.write(screen_gif())
    with open(folder + "/full.gif", "wb") as f:
        f.write(full_gif(side))
    with open(folder + "/canvas.webp", "wb") as f:
        f.write(canvas_webp())
    sheet_png(folder + "/sheet.png")
