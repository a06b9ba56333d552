#!/bin/sh
# Remakes libjpeg-spectral-selection.jpg: a progressive file whose scans send each
# coefficient whole (spectral selection alone, no successive approximation), so a cut
# between scans leaves the early ones complete. Needs python3-pil and libjpeg-turbo-progs.
set -e
/usr/bin/python3 - <<'PY'
import numpy as np
from PIL import Image
rng = np.random.default_rng(9)
y, x = np.mgrid[0:23, 0:37]
a = np.stack([(x * 7 + y * 3) % 256, (x * y) % 256, (200 - x * 5) % 256], -1).astype(np.int32)
a += rng.integers(0, 24, (23, 37, 3))
Image.fromarray(np.clip(a, 0, 255).astype(np.uint8)).save("sp.ppm")
PY
printf '0,1,2: 0-0, 0, 0;\n0: 1-63, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 0;\n' > scans.txt
cjpeg -scans scans.txt -outfile libjpeg-spectral-selection.jpg sp.ppm
rm sp.ppm scans.txt
