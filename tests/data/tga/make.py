#!/usr/bin/python3
# Makes the TGA files tst_tgasource reads, each beside the PNG of the same picture ("twin"),
# from two real encoders: ImageMagick (/usr/bin/convert) and Pillow. Run it from anywhere with
# /usr/bin/python3; it writes into its own folder.
#
# The twins are, but for ImageMagick's 16-bit files, the picture each encoder had in memory,
# written as PNG rather than read back from the TGA, so a fault two readers share cannot hide.

import os
import subprocess
import tempfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = "/usr/bin/convert"


def sprite():
    """9 x 5 pixels of 12 colours: runs of 3 or more (run packets), single pixels (raw
    packets), a row of one colour, and alpha 0, 77, 128, 200 and 255."""
    c = [(255, 0, 0), (0, 0, 255), (18, 200, 37), (250, 250, 10), (0, 0, 0), (255, 255, 255),
         (97, 3, 180), (140, 140, 140), (12, 80, 66), (230, 120, 5), (66, 66, 200), (1, 2, 3)]
    a = [255, 255, 0, 128, 255, 200, 255, 77, 255, 255, 0, 255]
    rows = ["000012345", "556666677", "89ab01234", "777777777", "abababab0"]
    img = Image.new("RGBA", (9, 5))
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            i = int(ch, 16)
            img.putpixel((x, y), c[i] + (a[i],))
    return img


def wide():
    """140 x 3: runs longer than one packet can paint, and a row of single pixels."""
    img = Image.new("RGB", (140, 3), (9, 99, 199))
    for x in range(140):
        img.putpixel((x, 1), (x, 255 - x, (7 * x) % 256))
        img.putpixel((x, 2), (200, 30, 30) if x < 131 else (30, 200, 30))
    return img


def magick(source, name, *options, reread=False):
    """The picture ImageMagick has once `options` are applied goes into the TGA and, turned
    upright, into the twin: ImageMagick 6 stores the rows in memory order and records the
    orientation in the descriptor. It cuts channels down to five bits by truncation, which
    leaves the picture in memory a level off what the file holds, so the twins of those files
    are ImageMagick's reading of them (`reread`)."""
    tga, png = os.path.join(HERE, name + ".tga"), "png32:" + os.path.join(HERE, name + ".png")
    stamp = ("-define", "png:exclude-chunks=date,time")  # the same run makes the same files
    if reread:
        subprocess.run([CONVERT, source, *options, tga], check=True)
        subprocess.run([CONVERT, tga, "-auto-orient", *stamp, png], check=True)
    else:
        flip = ["-flip"] if "BottomLeft" in options else []
        subprocess.run([CONVERT, source, *options, "-write", tga, *flip, *stamp, png],
                       check=True)


def pillow(img, name, **options):
    img.save(os.path.join(HERE, name + ".tga"), **options)
    img.save(os.path.join(HERE, name + ".png"))


def main():
    with tempfile.TemporaryDirectory() as tmp:
        src, flat, broad = (os.path.join(tmp, n) for n in ("s.png", "f.png", "w.png"))
        sprite().save(src)
        sprite().convert("RGB").save(flat)
        wide().save(broad)
        rle = ("-compress", "RLE")
        bottom, top = ("-orient", "BottomLeft"), ("-orient", "TopLeft")
        magick(flat, "im-bgr24", "-type", "TrueColor", *bottom)
        magick(flat, "im-bgr24-rle-top", "-type", "TrueColor", *rle, *top)
        magick(src, "im-bgra32-top", "-type", "TrueColorAlpha", *top)
        magick(src, "im-bgra32-rle", "-type", "TrueColorAlpha", *rle, *bottom)
        magick(flat, "im-rgb16", "-type", "TrueColor", "-depth", "5", *bottom, reread=True)
        magick(src, "im-argb16-rle-top", "-type", "TrueColorAlpha", "-depth", "5", *rle, *top,
               reread=True)
        magick(flat, "im-palette", "-type", "Palette", *bottom)
        magick(flat, "im-palette16-rle", "-type", "Palette", "-depth", "5", *rle, *bottom,
               reread=True)
        magick(flat, "im-gray-top", "-type", "Grayscale", *top)
        magick(flat, "im-gray-rle", "-type", "Grayscale", *rle, *bottom)
        magick(broad, "im-wide-rle", "-type", "TrueColor", *rle, *bottom)

    img = sprite()
    rgb = img.convert("RGB")
    pal = rgb.convert("P", palette=Image.Palette.ADAPTIVE, colors=12)
    pillow(pal, "pil-palette")
    pillow(pal, "pil-palette-rle-top", compression="tga_rle", orientation=1)
    pillow(rgb.convert("L"), "pil-gray-rle", compression="tga_rle")
    pillow(img.convert("LA"), "pil-grayalpha-top", orientation=1)
    pillow(rgb, "pil-bgr24-top", orientation=1, id_section=b"sprite sheet 7")
    pillow(img, "pil-bgra32")
    pillow(img, "pil-bgra32-rle-top", compression="tga_rle", orientation=1)
    pillow(wide(), "pil-wide-rle", compression="tga_rle")

    # Pixels from right to left: no encoder writes them, so a Pillow file gets the
    # descriptor's bit, and the twin is Pillow's reading of it.
    path = os.path.join(HERE, "pil-bgr24-right.tga")
    rgb.save(path, orientation=1)
    with open(path, "r+b") as f:
        f.seek(17)
        f.write(bytes([0x30]))
    Image.open(path).convert("RGB").save(os.path.join(HERE, "pil-bgr24-right.png"))


if __name__ == "__main__":
    main()
