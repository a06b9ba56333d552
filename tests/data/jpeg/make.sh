#!/bin/sh
# Remakes two of the files here (the others came from earlier tools). Needs python3-pil
# and libjpeg-turbo-progs.
# libjpeg-bands-whole.jpg: a progressive file whose scans send each coefficient
# whole (a band of coefficients a scan, never refined bit by bit), so a cut between scans
# leaves the early ones complete.
# libjpeg-arithmetic-progressive-flat.jpg: arithmetic-coded, progressive, flat below its
# first 16 rows; its encoder drops the zeros its scans end with (240 in the scan that
# refines DC).
set -e
/usr/bin/python3 - <<'PY'
import numpy as np
from PIL import Image
rng = np.random.default_rng(9)
y, x = np.mgrid[0:23, 0:37]
a = np.stack([(x * 7 + y * 3) % 256, (x * y) % 256, (200 - x * 5) % 256], -1).astype(np.int32)
a += rng.integers(0, 24, (23, 37, 3))
Image.fromarray(np.clip(a, 0, 255).astype(np.uint8)).save("sp.ppm")
rng = np.random.default_rng(11)
a = np.full((256, 512), 90, np.uint8)
a[:16] = rng.integers(0, 256, (16, 512), dtype=np.uint8)
Image.fromarray(a, "L").save("pf.pgm")
PY
printf '0,1,2: 0-0, 0, 0;\n0: 1-63, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 0;\n' > scans.txt
cjpeg -scans scans.txt -outfile libjpeg-bands-whole.jpg sp.ppm
cjpeg -arithmetic -progressive -grayscale -outfile libjpeg-arithmetic-progressive-flat.jpg pf.pgm
rm sp.ppm pf.pgm scans.txt
