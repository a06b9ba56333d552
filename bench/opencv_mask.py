#!/usr/bin/python3
"""The OpenCV contender of bench_cli.sh: masks every .bmp of SRC_DIR into OUT_DIR.

usage: /usr/bin/python3 bench/opencv_mask.py SRC_DIR OUT_DIR

Same job as pelloran-mask's defaults: pixels equal to the black key become
white, all others black, written as NAME_mask.bmp (24-bit). All files go
through one process, so the interpreter and cv2 start once per run; that
start-up is part of what this contender costs and is timed with it.
Run it with Debian's /usr/bin/python3 (package python3-opencv).
"""

import os
import sys

import cv2
import numpy as np

KEY = np.array([0, 0, 0], dtype=np.uint8)


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} SRC_DIR OUT_DIR", file=sys.stderr)
        return 2
    src, out = argv[1], argv[2]
    # Sorted so the work order, and so the cache behaviour, is the same every run.
    names = sorted(n for n in os.listdir(src) if n.endswith(".bmp"))
    for name in names:
        img = cv2.imread(os.path.join(src, name))
        if img is None:
            print(f"{argv[0]}: cannot read {name}", file=sys.stderr)
            return 1
        hit = cv2.inRange(img, KEY, KEY)
        mask = cv2.cvtColor(hit, cv2.COLOR_GRAY2BGR)
        if not cv2.imwrite(os.path.join(out, name[:-4] + "_mask.bmp"), mask):
            print(f"{argv[0]}: cannot write the mask of {name}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
