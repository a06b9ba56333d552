#!/bin/sh
# Remakes the PNG files tst_pngsource reads: what Qt's own writer cannot make, from Pillow
# and ImageMagick. Run from this folder; needs python3-pil and imagemagick.
set -e
/usr/bin/python3 - <<'PY'
from PIL import Image, ImageCms

def pattern(w, h, alpha=True):
    im = Image.new("RGBA", (w, h))
    for y in range(h):
        for x in range(w):
            a = (x * 53 + y * 97) % 256 if alpha else 255
            im.putpixel((x, y), ((x * 29 + y * 7) % 256, (y * 41 + 3 * x) % 256,
                                 (x * y * 13 + 90) % 256, a))
    return im

base = pattern(37, 23)
base.save("source.png")  # the pixels ImageMagick turns into the other layouts
base.convert("LA").save("gray-alpha.png")
base.convert("L").save("gray-trns.png", transparency=100)
base.convert("RGB").quantize(40).convert("RGB").save("rgb-trns.png",
                                                    transparency=base.convert("RGB").getpixel((0, 0)))
pal = base.convert("RGB").quantize(12)
pal.save("palette-trns.png", transparency=bytes([0, 128, 255, 64, 9]))
pal.save("palette4.png")  # 12 colours in 4 bits, all opaque
# A grey picture with an RGB profile, as paint programs write them: libpng complains.
srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
base.convert("L").save("gray-rgb-profile.png", icc_profile=srgb)
PY
c=/usr/bin/convert
$c source.png -alpha off -define png:bit-depth=16 -define png:color-type=2 rgb16.png
$c source.png -define png:bit-depth=16 -define png:color-type=6 -interlace PNG rgba16-interlaced.png
$c source.png -define png:bit-depth=16 -define png:color-type=6 rgba16.png
$c source.png -alpha off -colorspace Gray -define png:bit-depth=16 -define png:color-type=0 gray16.png
for d in 1 2 4; do
    $c source.png -alpha off -colorspace Gray -depth $d -define png:bit-depth=$d -define png:color-type=0 gray$d.png
done
# Interlaced pictures of odd sizes and their twins without interlacing.
for s in 1x1 2x2 3x5 37x23; do
    $c source.png -crop $s+0+0 +repage -define png:color-type=6 -interlace PNG rgba-$s-interlaced.png
    $c source.png -crop $s+0+0 +repage -define png:color-type=6 -interlace none rgba-$s.png
done
$c gray1.png -define png:bit-depth=1 -define png:color-type=0 -interlace PNG gray1-interlaced.png
$c palette-trns.png -interlace PNG PNG8:palette8-interlaced.png
$c palette-trns.png -interlace none PNG8:palette8.png
rm source.png
