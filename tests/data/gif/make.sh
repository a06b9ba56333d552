#!/bin/sh
# Remakes the GIF files tst_gifsource reads, from three real encoders: Pillow, ImageMagick and
# giflib's gifbuild, each file beside the PNG of Pillow's reading of its first frame ("twin").
# Run from this folder; needs python3-pil, imagemagick and giflib-tools.
set -e
c=/usr/bin/convert
/usr/bin/python3 - <<'PY'
import random
from PIL import Image

rng = random.Random(20261207)
# 256 colours of noise, 64 x 64: LZW codes widen from 9 to 12 bits and the table fills.
noise = Image.new("P", (64, 64))
noise.putpalette([rng.randrange(256) for _ in range(768)])
noise.putdata([rng.randrange(256) for _ in range(64 * 64)])
noise.convert("RGB").save("noise.png")
noise.save("pil-noise256-interlaced.gif")

# A sprite of long runs and single pixels with a transparent background.
sprite = Image.new("RGBA", (30, 21), (0, 0, 0, 0))
for y in range(21):
    for x in range(30):
        if (x - 15) ** 2 + (y - 10) ** 2 < 90:
            sprite.putpixel((x, y), ((x * 37) % 256, (y * 53) % 256, (x * y) % 256, 255))
sprite.save("sprite.png")
rgb = sprite.convert("RGB")
def quantized(n):  # with a table of n entries, not Pillow's usual 256
    q = rgb.quantize(n)
    q.putpalette(q.getpalette()[:3 * n])
    return q
quantized(2).save("pil-2colours-interlaced.gif")
quantized(16).save("pil-16colours-interlaced.gif")  # Pillow interlaces from 16 rows on
pal = rgb.quantize(40)
pal.save("pil-transparent-comment-loop.gif", transparency=0, comment=b"made by Pillow",
         loop=0, interlace=False)
# Two frames of different palettes: the second has a table of its own, and is never shown.
pal.save("pil-two-frames.gif", save_all=True, interlace=False, duration=100,
         append_images=[rgb.rotate(90).quantize(7)])
PY
$c noise.png im-noise256.gif
$c sprite.png -background '#204080' -alpha remove -colors 2 im-2colours.gif
$c sprite.png -background '#204080' -alpha remove -colors 16 -interlace GIF im-16colours-interlaced.gif
$c sprite.png -set comment "made by ImageMagick" -loop 0 im-transparent-comment-loop.gif
$c sprite.png -background '#204080' -alpha remove -page 40x30+7+5 im-offset.gif
$c sprite.png -page 44x25+11+3 -interlace GIF im-transparent-interlaced-offset.gif
$c sprite.png \( sprite.png -rotate 90 -colors 5 \) -loop 0 im-two-frames.gif
rm noise.png sprite.png
# giflib: a frame at an offset on a screen of a 2-colour table, with a 16-colour table of its
# own, interlaced, after a comment, an unknown extension and a graphic control block.
/usr/bin/python3 - <<'PY' > frame.txt
import random
rng = random.Random(7)
keys = "0123456789abcdef"
print("screen width 31\nscreen height 26\nscreen background 1\nscreen map")
print("rgb 10 200 30\nrgb 240 20 90\nend")
print("comment\nmade by gifbuild\nend\nextension 99\nnot a block anyone reads\nend")
print("graphics control\ndisposal mode 0\nuser input flag off\ndelay 0")
print("transparent index 5\nend")
print("image\nimage left 3\nimage top 2\nimage interlaced\nimage map")
for i in range(16):
    print("rgb %d %d %d is %s" % ((i * 16 + 5) % 256, (200 - i * 11) % 256, (i * 67) % 256, keys[i]))
print("end\nimage bits 27 by 22")
for y in range(22):
    print("".join(keys[rng.randrange(16) if (x * y) % 5 else (x + y) % 16] for x in range(27)))
PY
gifbuild frame.txt > gb-local-table-interlaced-offset.gif
rm frame.txt
# The twins, as palette PNGs: Pillow's reading of each file's first frame. Pillow fills the
# screen around a frame with colour 0 rather than the background colour (but for the
# transparent entry, as everyone does): such files are held to Qt's reading, without a twin.
/usr/bin/python3 - <<'PY'
import glob
from PIL import Image
for name in glob.glob("*.gif"):
    im = Image.open(name)
    if "transparency" in im.info or im.tile[0][1] == (0, 0) + im.size:
        im.save(name[:-4] + ".png")
PY
