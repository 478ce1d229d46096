#!/usr/bin/python3
"""Makes webp_rules.webp and its reference frames with libwebp alone, through ctypes.

Each frame's pixels are encoded by libwebp's lossless encoder (WebPEncodeLosslessRGBA);
the container around them is written here, so that every frame carries the blend and
dispose flags chosen for it. The reference webp_rules.webp.frames.png holds the frames
libwebp's own animation decoder (WebPAnimDecoder, RGBA) composes, stacked top to bottom.
Needs libwebp7 and libwebpdemux2 (Debian 12: libwebp 1.2.4). Run from anywhere:
    python3 tests/data/animation/make_webp_rules.py

The frames exercise what that decoder does beyond the format's plain words: its integer
rounding of straight-alpha blending (also over clear pixels), key frames drawn without
blending (the one after a key frame cleared to the background), and pixels of a previous
frame's rectangle, cleared to the background, taken unblended.
"""

import ctypes
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 8, 6
DEMUX_ABI = 0x0107
MODE_RGBA = 1

webp = ctypes.CDLL("libwebp.so.7")
demux = ctypes.CDLL("libwebpdemux.so.2")


def pixels(width, height, seed):
    """Straight RGBA with alphas 0 (coloured), 3, 100, 128, 200 and 255 spread over the frame."""
    alphas = [0, 3, 100, 128, 200, 255]
    out = bytearray()
    for y in range(height):
        for x in range(width):
            i = x + y * width + seed
            out += bytes([(37 * i + 11 * seed) % 256, (91 * i + 50) % 256, (53 * i + 7 * seed) % 256,
                          alphas[(x + 2 * y + seed) % len(alphas)]])
    return bytes(out)


def lossless(width, height, rgba):
    webp.WebPEncodeLosslessRGBA.restype = ctypes.c_size_t
    out = ctypes.POINTER(ctypes.c_uint8)()
    size = webp.WebPEncodeLosslessRGBA(rgba, width, height, width * 4, ctypes.byref(out))
    riff = ctypes.string_at(out, size)
    webp.WebPFree(out)
    assert riff[12:16] == b"VP8L"
    (length,) = struct.unpack("<I", riff[16:20])
    return riff[20:20 + length]


def chunk(tag, payload):
    return tag + struct.pack("<I", len(payload)) + payload + (b"\0" if len(payload) & 1 else b"")


def u24(value):
    return struct.pack("<I", value)[:3]


# (x, y, width, height, blend, dispose to background); offsets are even, as the format has them.
FRAMES = [
    (0, 0, 5, 4, False, True),   # key (the first), cleared after showing
    (2, 2, 6, 4, True, False),   # key after a key frame cleared: drawn unblended
    (2, 0, 4, 5, True, True),    # blended over everything, then cleared
    (0, 2, 8, 3, True, False),   # blended except over the rectangle just cleared
    (0, 0, 8, 6, False, False),  # whole canvas, no blending: key
]


def animation():
    body = chunk(b"VP8X", bytes([0x02 | 0x10, 0, 0, 0]) + u24(W - 1) + u24(H - 1))
    body += chunk(b"ANIM", struct.pack("<IH", 0, 0))
    for seed, (x, y, width, height, blend, dispose) in enumerate(FRAMES):
        flags = (0 if blend else 2) | (1 if dispose else 0)
        frame = u24(x // 2) + u24(y // 2) + u24(width - 1) + u24(height - 1) + u24(100 + 10 * seed) + bytes([flags])
        body += chunk(b"ANMF", frame + chunk(b"VP8L", lossless(width, height, pixels(width, height, seed))))
    return b"RIFF" + struct.pack("<I", len(body) + 4) + b"WEBP" + body


class WebPData(ctypes.Structure):
    _fields_ = [("bytes", ctypes.c_char_p), ("size", ctypes.c_size_t)]


class Options(ctypes.Structure):
    _fields_ = [("color_mode", ctypes.c_int), ("use_threads", ctypes.c_int), ("padding", ctypes.c_uint32 * 7)]


def composed(data):
    options = Options()
    assert demux.WebPAnimDecoderOptionsInitInternal(ctypes.byref(options), DEMUX_ABI)
    options.color_mode = MODE_RGBA
    demux.WebPAnimDecoderNewInternal.restype = ctypes.c_void_p
    bitstream = WebPData(data, len(data))
    decoder = ctypes.c_void_p(demux.WebPAnimDecoderNewInternal(ctypes.byref(bitstream), ctypes.byref(options), DEMUX_ABI))
    assert decoder
    frames = []
    buffer = ctypes.POINTER(ctypes.c_uint8)()
    timestamp = ctypes.c_int()
    while demux.WebPAnimDecoderHasMoreFrames(decoder):
        assert demux.WebPAnimDecoderGetNext(decoder, ctypes.byref(buffer), ctypes.byref(timestamp))
        frames.append(ctypes.string_at(buffer, W * H * 4))
    demux.WebPAnimDecoderDelete(decoder)
    return frames


def png(width, height, rgba):
    def png_chunk(tag, payload):
        return struct.pack(">I", len(payload)) + tag + payload + struct.pack(">I", zlib.crc32(tag + payload))

    rows = b"".join(b"\0" + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(rows, 9)) + png_chunk(b"IEND", b""))


if __name__ == "__main__":
    data = animation()
    frames = composed(data)
    with open(os.path.join(HERE, "webp_rules.webp"), "wb") as out:
        out.write(data)
    with open(os.path.join(HERE, "webp_rules.webp.frames.png"), "wb") as out:
        out.write(png(W, H * len(frames), b"".join(frames)))
