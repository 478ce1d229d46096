#!/usr/bin/python3
"""Makes the gif_* and webp_* animations here and their reference frames.

Each animation X comes with X.frames.png: its composed frames, RGBA, stacked top to bottom,
as another decoder sees them: ImageMagick's `convert X -coalesce` for GIF, Pillow's
`seek(i); convert("RGBA")` for WebP. Needs Pillow 9.4 (with WebP), ImageMagick 6.9 and
img2webp 1.2.4 (Debian 12: python3-pil, imagemagick, webp). Run from anywhere:
    /usr/bin/python3 tests/data/animation/make_gif_webp.py
"""

import os
import subprocess
import tempfile

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 24, 20

RED = (220, 30, 40, 255)
GREEN = (30, 180, 60, 255)
BLUE = (30, 60, 200, 255)
YELLOW = (250, 220, 20, 255)
WHITE = (255, 255, 255, 255)
ORANGE = (250, 140, 0, 255)
PURPLE = (140, 40, 160, 255)
CLEAR = (0, 0, 0, 0)


def box(size, colour, holes=()):
    """A rectangle of one colour with fully clear rectangles (x0, y0, x1, y1) cut out."""
    im = Image.new("RGBA", size, colour)
    draw = ImageDraw.Draw(im)
    for hole in holes:
        draw.rectangle(hole, fill=CLEAR)
    return im


def save(im, tmp, name):
    path = os.path.join(tmp, name)
    im.save(path)
    return path


def run(*args):
    subprocess.run(list(args), check=True)


def stack(frames):
    strip = Image.new("RGBA", (frames[0].width, frames[0].height * len(frames)))
    for i, frame in enumerate(frames):
        strip.paste(frame, (0, i * frame.height))
    return strip


def save_png(im, name):
    im.save(os.path.join(HERE, name), optimize=True)


def magick_reference(name, tmp):
    """ImageMagick's composed frames of a GIF, as one strip."""
    pattern = os.path.join(tmp, name + ".%03d.png")
    run("convert", os.path.join(HERE, name), "-coalesce", "+repage", "PNG32:" + pattern)
    frames = []
    i = 0
    while os.path.exists(pattern % i):
        frames.append(Image.open(pattern % i).convert("RGBA"))
        i += 1
    save_png(stack(frames), name + ".frames.png")


def pillow_reference(name):
    """Pillow's composed frames of a WebP, as one strip."""
    im = Image.open(os.path.join(HERE, name))
    frames = []
    for i in range(getattr(im, "n_frames", 1)):
        im.seek(i)
        frames.append(im.convert("RGBA"))
    save_png(stack(frames), name + ".frames.png")


def gifs(tmp):
    # Frames smaller than the canvas at offsets, some cleared after showing, with clear
    # pixels in them; delays of 20, 80, 130 and 500 ms.
    base = Image.new("RGBA", (W, H), BLUE)
    ImageDraw.Draw(base).rectangle((0, 8, W - 1, 11), fill=YELLOW)
    f0 = save(base, tmp, "bg0.png")
    f1 = save(box((8, 6), RED, [(3, 2, 4, 3)]), tmp, "bg1.png")
    f2 = save(box((10, 5), GREEN, [(0, 0, 2, 1)]), tmp, "bg2.png")
    f3 = save(box((6, 6), WHITE), tmp, "bg3.png")
    run("convert", "-dispose", "none", "-delay", "2", f0,
        "-dispose", "background", "-delay", "8", "-page", "24x20+3+2", f1,
        "-delay", "13", "-page", "24x20+12+13", f2,
        "-dispose", "none", "-delay", "50", "-page", "24x20+16+1", f3,
        os.path.join(HERE, "gif_dispose_background.gif"))
    magick_reference("gif_dispose_background.gif", tmp)

    # Frames put back to what was under them, over a canvas half clear.
    base = Image.new("RGBA", (W, H), CLEAR)
    ImageDraw.Draw(base).rectangle((12, 0, W - 1, H - 1), fill=BLUE)
    f0 = save(base, tmp, "pr0.png")
    f1 = save(box((10, 8), ORANGE), tmp, "pr1.png")
    f2 = save(box((12, 6), PURPLE, [(0, 0, 1, 1), (4, 2, 7, 3), (10, 4, 11, 5)]), tmp, "pr2.png")
    f3 = save(box((5, 5), GREEN), tmp, "pr3.png")
    run("convert", "-dispose", "none", "-delay", "8", f0,
        "-dispose", "previous", "-delay", "2", "-page", "24x20+2+3", f1,
        "-delay", "50", "-page", "24x20+8+10", f2,
        "-dispose", "none", "-delay", "13", "-page", "24x20+18+14", f3,
        os.path.join(HERE, "gif_dispose_previous.gif"))
    magick_reference("gif_dispose_previous.gif", tmp)

    # Interlaced: every row its own colour, so a row put in the wrong place shows.
    paths = []
    for f in range(3):
        im = Image.new("RGBA", (W, H))
        for y in range(H):
            k = (y * 3 + f * 7) % 20
            colour = (k * 12, 255 - k * 11, (k * 53) % 256, 255)
            ImageDraw.Draw(im).line((0, y, W - 1, y), fill=colour)
        ImageDraw.Draw(im).rectangle((f * 5, 2, f * 5 + 3, 15), fill=CLEAR)
        paths.append(save(im, tmp, "il%d.png" % f))
    run("convert", "-delay", "8", "-dispose", "none", *paths, "-interlace", "GIF",
        os.path.join(HERE, "gif_interlaced.gif"))
    magick_reference("gif_interlaced.gif", tmp)

    # Pillow's writer: one still image with a transparent index, and an animation whose
    # frames it crops to what changed.
    still = Image.new("P", (W, H), 0)
    still.putpalette([0, 0, 0, 220, 30, 40, 30, 180, 60, 250, 220, 20])
    ImageDraw.Draw(still).rectangle((4, 3, 18, 15), fill=1)
    ImageDraw.Draw(still).ellipse((8, 6, 14, 12), fill=2)
    ImageDraw.Draw(still).line((0, 19, 23, 0), fill=3)
    still.save(os.path.join(HERE, "gif_still.gif"), transparency=0)
    magick_reference("gif_still.gif", tmp)

    frames = []
    for f in range(4):
        im = Image.new("P", (W, H), 0)
        im.putpalette([0, 0, 0, 220, 30, 40, 30, 180, 60, 30, 60, 200, 250, 220, 20])
        ImageDraw.Draw(im).rectangle((0, 0, W - 1, 4), fill=3)
        ImageDraw.Draw(im).rectangle((2 + f * 4, 6, 7 + f * 4, 12), fill=1 + f % 2)
        ImageDraw.Draw(im).point((20 - f, 17), fill=4)
        frames.append(im)
    frames[0].save(os.path.join(HERE, "gif_pillow.gif"), save_all=True, append_images=frames[1:],
                   duration=[20, 80, 130, 500], disposal=2, transparency=0, loop=0)
    magick_reference("gif_pillow.gif", tmp)


def webps(tmp):
    # Moving sprites with partly clear pixels over a clear canvas: Pillow's writer picks
    # sub-rectangles, blending and disposal itself.
    frames = []
    for f in range(4):
        im = Image.new("RGBA", (W, H), CLEAR)
        draw = ImageDraw.Draw(im)
        draw.rectangle((1 + f * 4, 2, 8 + f * 4, 9), fill=RED)
        draw.rectangle((3 + f * 4, 4, 6 + f * 4, 7), fill=(30, 60, 200, 128))
        draw.ellipse((14 - f * 2, 10, 21 - f * 2, 17), fill=(30, 180, 60, 200))
        frames.append(im)
    frames[0].save(os.path.join(HERE, "webp_dispose_background.webp"), save_all=True, append_images=frames[1:],
                   duration=[20, 80, 130, 500], lossless=True, loop=0)
    pillow_reference("webp_dispose_background.webp")

    # Sprites moving over an opaque ground with a clear corner: the writer blends the later
    # frames over the canvas.
    frames = []
    for f in range(4):
        im = Image.new("RGBA", (W, H), (240, 240, 230, 255))
        draw = ImageDraw.Draw(im)
        draw.rectangle((0, 0, 5, 5), fill=CLEAR)
        draw.rectangle((18, 14, 23, 19), fill=(30, 60, 200, 120))
        draw.rectangle((7 + f * 3, 2, 12 + f * 3, 7), fill=RED)
        draw.ellipse((14 - f * 3, 10, 19 - f * 3, 15), fill=GREEN)
        frames.append(im)
    frames[0].save(os.path.join(HERE, "webp_blend.webp"), save_all=True, append_images=frames[1:],
                   duration=[20, 80, 130, 500], lossless=True, loop=0)
    pillow_reference("webp_blend.webp")

    # img2webp, lossless and lossy (lossy with an alpha plane).
    paths = []
    for f in range(3):
        im = Image.new("RGBA", (W, H), (250, 250, 240, 255) if f == 0 else CLEAR)
        draw = ImageDraw.Draw(im)
        draw.rectangle((f * 6, f * 4, f * 6 + 9, f * 4 + 7), fill=ORANGE)
        draw.rectangle((20 - f * 3, 1, 23 - f * 3, 18), fill=(140, 40, 160, 90))
        paths.append(save(im, tmp, "iw%d.png" % f))
    run("img2webp", "-loop", "0", "-lossless", "-d", "80", paths[0], "-d", "130", paths[1], "-d", "500", paths[2],
        "-o", os.path.join(HERE, "webp_img2webp.webp"))
    pillow_reference("webp_img2webp.webp")
    run("img2webp", "-loop", "0", "-lossy", "-q", "90", "-d", "20", paths[0], "-d", "80", paths[1], "-d", "130",
        paths[2], "-o", os.path.join(HERE, "webp_img2webp_lossy.webp"))
    pillow_reference("webp_img2webp_lossy.webp")

    # Still images: lossless with alpha, and lossy without.
    im = Image.new("RGBA", (W, H), CLEAR)
    draw = ImageDraw.Draw(im)
    draw.ellipse((2, 2, 17, 17), fill=GREEN)
    draw.rectangle((10, 5, 22, 12), fill=(220, 30, 40, 150))
    im.save(os.path.join(HERE, "webp_still_lossless.webp"), lossless=True)
    pillow_reference("webp_still_lossless.webp")

    im = Image.new("RGB", (W, H), (240, 240, 230))
    draw = ImageDraw.Draw(im)
    draw.ellipse((3, 1, 20, 18), fill=(30, 60, 200))
    draw.rectangle((0, 14, 23, 19), fill=(250, 220, 20))
    im.save(os.path.join(HERE, "webp_still_lossy.webp"), quality=85)
    pillow_reference("webp_still_lossy.webp")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        gifs(tmp)
        webps(tmp)


if __name__ == "__main__":
    main()
