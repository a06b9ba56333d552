#!/usr/bin/python3
"""The OpenCV contender of bench_cli.sh on RGBA PNG sets: masks every .png of
SRC_DIR by its alpha into OUT_DIR.

usage: /usr/bin/python3 bench/opencv_alpha_mask.py SRC_DIR OUT_DIR

Same job as pelloran-mask -a: pixels whose alpha is 0 become white, all others
black, written as NAME_mask.png (8-bit grey; pelloran-mask writes RGB, so the
two are compared by pixels, not bytes). All files go through one process, so
the interpreter and cv2 start once per run; that start-up is part of what this
contender costs and is timed with it. Run it with Debian's /usr/bin/python3
(package python3-opencv).
"""

import os
import sys

import cv2
import numpy as np

WHITE, BLACK = np.uint8(255), np.uint8(0)


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} SRC_DIR OUT_DIR", file=sys.stderr)
        return 2
    src, out = argv[1], argv[2]
    # Sorted so the work order, and so the cache behaviour, is the same every run.
    names = sorted(n for n in os.listdir(src) if n.endswith(".png"))
    for name in names:
        img = cv2.imread(os.path.join(src, name), cv2.IMREAD_UNCHANGED)
        if img is None or img.ndim != 3 or img.shape[2] != 4:
            print(f"{argv[0]}: {name} is no RGBA picture OpenCV reads", file=sys.stderr)
            return 1
        mask = np.where(img[:, :, 3] == 0, WHITE, BLACK)
        if not cv2.imwrite(os.path.join(out, name[:-4] + "_mask.png"), mask):
            print(f"{argv[0]}: cannot write the mask of {name}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
