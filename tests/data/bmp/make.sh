#!/bin/sh
# Remakes the BMP files tst_pictureio reads beside its own: what Qt's writer never makes.
# Run from this folder; needs python3-pil and imagemagick. No common encoder writes RLE4, or
# RLE8 with absolute runs or jumps (ImageMagick writes runs only): the test makes those.
set -e
/usr/bin/python3 - <<'PY'
import random
from PIL import Image

rng = random.Random(3)
im = Image.new("RGB", (37, 9), (200, 30, 30))
for y in range(9):
    for x in range(37):
        if y % 3 == 1:
            im.putpixel((x, y), (rng.randrange(256), rng.randrange(256), 40))
        elif y % 3 == 2 and x > 20:
            im.putpixel((x, y), (10, 10 * (x % 7), 250))
im.quantize(60).save("runs.png")
# Pillow keeps alpha in the fourth byte of a plain 32-bit BMP, where readers find no alpha.
im.putalpha(Image.linear_gradient("L").resize(im.size))
im.save("pil-32-bit-alpha-in-fourth-byte.bmp")
PY
/usr/bin/convert runs.png -compress RLE BMP3:im-rle8.bmp
rm runs.png
