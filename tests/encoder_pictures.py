#!/usr/bin/python3
# Makes the pictures tst_encoders masks, with the encoders Debian ships: ImageMagick, Pillow,
# libjpeg-turbo's cjpeg and gifsicle. Noise of many colours, so LZW tables fill and deflate
# and JPEG get no easy ride. Beside each file NAME it writes NAME.rgb, the picture as Pillow
# decodes it (rows of 8-bit RGB), and it lists "NAME WIDTH HEIGHT" in pictures.txt.
# Usage: encoder_pictures.py FOLDER
import os
import subprocess
import sys

import numpy as np
from PIL import Image

OUT = sys.argv[1]
CONVERT = "/usr/bin/convert"
rng = np.random.default_rng(20261207)
listed = []


def at(name):
    return os.path.join(OUT, name)


def noise(w, h):
    return Image.fromarray(rng.integers(0, 256, (h, w, 3), dtype=np.uint8), "RGB")


def indexed(w, h, colours):
    img = Image.fromarray(rng.integers(0, colours, (h, w), dtype=np.uint8), "P")
    img.putpalette(rng.integers(0, 256, 3 * colours, dtype=np.uint8).tobytes())
    return img


def sheet(w, h, colours):
    """Noise with a few long runs of one colour, as sprite sheets have. Within such a run an
    LZW encoder's codes each take up the entry defined just before, so where the table fills
    in one, the last entry, code 4095, is used at once."""
    rare, lo, hi = {2: (0.003, 1000, 3000), 16: (0.01, 100, 600), 256: (0.25, 32, 256)}[colours]
    n = w * h
    lengths = np.where(rng.random(n) < rare, rng.integers(lo, hi, n), 1)
    lengths = lengths[: np.searchsorted(np.cumsum(lengths), n) + 1]
    values = rng.integers(0, colours, lengths.size, dtype=np.uint8)
    img = Image.fromarray(np.repeat(values, lengths)[:n].reshape(h, w), "P")
    img.putpalette(rng.integers(0, 256, 3 * colours, dtype=np.uint8).tobytes())
    return img


def source(img, name):
    """A lossless file for the encoders that take one."""
    img.save(at(name), compress_level=1)
    return at(name)


def magick(src, name, *options):
    subprocess.run([CONVERT, src, *options, at(name)], check=True)
    done(name)


def cjpeg(ppm, name, *options):
    subprocess.run(["cjpeg", *options, "-outfile", at(name), ppm], check=True)
    if "-arithmetic" not in options:
        return done(name)
    # Pillow's decoder suspends for data, which libjpeg's arithmetic decoder cannot: the
    # reference is libjpeg's own djpeg.
    subprocess.run(["djpeg", "-outfile", at("djpeg.ppm"), at(name)], check=True)
    done(name, np.asarray(Image.open(at("djpeg.ppm")).convert("RGB")))
    os.remove(at("djpeg.ppm"))


def done(name, pixels=None):
    """`pixels`: what the reader must give where Pillow decodes otherwise."""
    if pixels is None:
        pixels = np.asarray(Image.open(at(name)).convert("RGB"))
    pixels.astype(np.uint8).tofile(at(name + ".rgb"))
    listed.append(f"{name} {pixels.shape[1]} {pixels.shape[0]}")


def narrow(name, bits, widen):
    """Pillow widens a channel of `bits` (red, green, blue) to v * 255 / (2^bits - 1); the
    reader as `widen` says. Both keep every value, so Pillow's tells the stored one."""
    a = np.asarray(Image.open(at(name)).convert("RGB")).astype(np.int32)
    out = np.empty_like(a)
    for c, b in enumerate(bits):
        top = (1 << b) - 1
        out[..., c] = widen((a[..., c] * top + 127) // 255, b)
    done(name, out)


def shifted(v, b):  # BMP: the value shifted up, a full 5-bit channel 248
    return v << (8 - b)


def repeated(v, b):  # TGA: the top bits repeated below, a full 5-bit channel 255
    return (v << 3) | (v >> 2)


# GIF. Encoders that let the LZW table fill before a clear code write code 4095, and a
# 4096 x 4096 sheet fills it again and again.
for w, h, colours, interlaced in ((4096, 4096, 256, False), (4096, 4096, 2, True),
                                  (2048, 1536, 16, False), (1024, 768, 256, True)):
    img = sheet(w, h, colours)
    name = f"pil-{colours}-{w}{'-interlaced' if interlaced else ''}.gif"
    img.save(at(name), interlace=interlaced)
    done(name)
for w, h, colours, interlaced in ((4096, 4096, 256, False), (4096, 4096, 16, True),
                                  (2048, 1536, 256, True), (1024, 768, 2, False)):
    options = ("-interlace", "GIF") if interlaced else ()
    magick(source(sheet(w, h, colours), "gif-source.png"),
           f"im-{colours}-{w}{'-interlaced' if interlaced else ''}.gif", *options)
src = at("pil-16-2048.gif")
for name, options in (("gifsicle-16-2048.gif", ["--no-interlace"]),
                      ("gifsicle-16-2048-interlaced.gif", ["--interlace"])):
    with open(at(name), "wb") as f:
        subprocess.run(["gifsicle", "-O0", *options, src], stdout=f, check=True)
    done(name)

# PNG: every colour type, 16 bits, Adam7.
rgb = noise(1024, 768)
for mode in ("L", "P", "RGB", "RGBA"):
    img = rgb.convert(mode) if mode != "RGBA" else rgb.copy()
    if mode == "RGBA":
        img.putalpha(Image.fromarray(rng.integers(0, 256, (768, 1024), dtype=np.uint8), "L"))
    img.save(at(f"pil-{mode.lower()}.png"))
    done(f"pil-{mode.lower()}.png")
# 16 bits a channel: the reader rounds (libpng's scaling), Pillow keeps the top byte.
deep = rng.integers(0, 65536, (480, 640, 3), dtype=np.uint16)
with open(at("deep.ppm"), "wb") as f:
    f.write(b"P6 640 480 65535\n" + deep.astype(">u2").tobytes())
subprocess.run([CONVERT, at("deep.ppm"), "PNG48:" + at("im-rgb16.png")], check=True)
done("im-rgb16.png", (deep.astype(np.int64) * 255 + 32895) >> 16)
grey16 = rng.integers(0, 65536, (480, 640), dtype=np.uint16)
Image.frombytes("I;16", (640, 480), grey16.astype("<u2").tobytes()).save(at("pil-grey16.png"))
done("pil-grey16.png", np.repeat(((grey16.astype(np.int64) * 255 + 32895) >> 16)[..., None], 3, 2))
flat = source(rgb, "rgb.png")
magick(flat, "im-rgb-interlaced.png", "-interlace", "PNG")
magick(source(indexed(1024, 768, 200), "pal.png"), "im-palette-interlaced.png", "-interlace",
       "PNG")

# BMP at every depth the reader takes; ImageMagick writes RLE8 (no RLE4).
small = noise(1023, 767)  # rows that need padding
flat = source(small, "bmp-source.png")
for mode, name in (("1", "pil-1.bmp"), ("P", "pil-8.bmp"), ("RGB", "pil-24.bmp")):
    small.convert(mode).save(at(name))
    done(name)
for colours, options in ((2, ("BMP3:",)), (16, ("BMP3:",)), (256, ("BMP:",)),
                         (200, ("BMP3:", "-compress", "RLE"))):
    prefix, *rest = options
    name = f"im-{colours}{'-rle' if rest else ''}.bmp"
    pal = source(indexed(1023, 767, colours), "p.png")
    subprocess.run([CONVERT, pal, *rest, prefix + at(name)], check=True)
    done(name)
magick(flat, "im-24.bmp", "-type", "TrueColor")
for subtype, bits in (("RGB565", (5, 6, 5)), ("RGB555", (5, 5, 5))):
    name = f"im-{subtype.lower()}.bmp"
    subprocess.run([CONVERT, flat, "-define", f"bmp:subtype={subtype}", at(name)], check=True)
    narrow(name, bits, shifted)
alpha = small.copy()
alpha.putalpha(Image.fromarray(rng.integers(0, 256, (767, 1023), dtype=np.uint8), "L"))
magick(source(alpha, "alpha.png"), "im-32-alpha.bmp")

# JPEG: libjpeg's own encoder in every coding it has, and ImageMagick's and Pillow's.
photo = noise(1024, 768)
photo.save(at("photo.ppm"))
ppm = at("photo.ppm")
cjpeg(ppm, "cjpeg-baseline.jpg")
cjpeg(ppm, "cjpeg-progressive.jpg", "-progressive")
cjpeg(ppm, "cjpeg-arithmetic.jpg", "-arithmetic")
cjpeg(ppm, "cjpeg-arithmetic-progressive.jpg", "-arithmetic", "-progressive")
cjpeg(ppm, "cjpeg-grey-optimized.jpg", "-grayscale", "-optimize")
cjpeg(ppm, "cjpeg-444-restarts.jpg", "-sample", "1x1", "-restart", "3")
big = noise(2048, 2048)
big.save(at("big.ppm"))
cjpeg(at("big.ppm"), "cjpeg-progressive-2048.jpg", "-progressive", "-quality", "95")
magick(flat, "im-baseline.jpg")
magick(flat, "im-progressive-422.jpg", "-interlace", "JPEG", "-sampling-factor", "2x1")
photo.save(at("pil-444.jpg"), quality=90, subsampling=0)
done("pil-444.jpg")
photo.save(at("pil-progressive.jpg"), progressive=True)
done("pil-progressive.jpg")

# TGA: both encoders, raw and run-length, 16 bits from ImageMagick.
tga = noise(1000, 700)
tga_src = source(tga, "tga-source.png")
for mode in ("L", "P", "RGB", "RGBA"):
    img = tga.convert(mode) if mode != "P" else indexed(1000, 700, 256)
    for rle in (False, True):
        name = f"pil-{mode.lower()}{'-rle' if rle else ''}.tga"
        img.save(at(name), compression="tga_rle" if rle else None)
        done(name)
magick(tga_src, "im-24-rle.tga", "-compress", "RLE")
magick(source(alpha, "alpha.png"), "im-32.tga")
subprocess.run([CONVERT, tga_src, "-depth", "5", at("im-16.tga")], check=True)
narrow("im-16.tga", (5, 5, 5), repeated)

for leftover in ("gif-source.png", "deep.ppm", "rgb.png", "pal.png", "bmp-source.png", "p.png",
                 "alpha.png", "photo.ppm", "big.ppm", "tga-source.png"):
    os.remove(at(leftover))
with open(at("pictures.txt"), "w") as f:
    f.write("\n".join(listed) + "\n")
