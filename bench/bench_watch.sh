#!/bin/bash
# Times pelloran-mask --watch from a sprite's save (a new file renamed over it, as editors
# save) to its new mask being in place, in a tree of one sprite and in a tree of many under
# -r, and prints the median of each and their ratio. A save re-plans only what it touched,
# so the large tree should answer about as fast as the small one; both include the watch's
# quiet time (200 ms).
#
# usage: bench/bench_watch.sh [SPRITES] [SAVES]
#   SPRITES  sprites in the large tree, 1,000 a folder  (default 20000)
#   SAVES    saves timed in each tree; the median is reported  (default 9)
# Environment:
#   PELLORAN_BIN  where pelloran-mask was built (default build/release/bin)
set -Eeuo pipefail
trap 'echo "$0: command failed at line $LINENO" >&2' ERR

sprites=${1:-20000}
saves=${2:-9}
here=$(cd "$(dirname "$0")" && pwd)
bin=${PELLORAN_BIN:-$here/../build/release/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$bin/pelloran-mask" "$work" "$sprites" "$saves" <<'EOF'
import os, statistics, struct, subprocess, sys, time

program, work, count, saves = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def bmp(colour):
    # An 8 x 8 24-bit BMP: a black frame round a square of `colour`.
    rows = b''.join(bytes(0 if x in (0, 7) or y in (0, 7) else colour for x in range(8) for _ in range(3))
                    for y in range(8))
    return b'BM' + struct.pack('<IHHIIiiHHIIiiII', 54 + len(rows), 0, 0, 54, 40, 8, 8, 1, 24, 0,
                               len(rows), 2835, 2835, 0, 0) + rows

def tree(root, n):
    for i in range(n):
        folder = os.path.join(root, 'f%03d' % (i // 1000))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, 's%05d.bmp' % i), 'wb') as f:
            f.write(bmp(200))
    return os.path.join(root, 'f000', 's00000.bmp')

def timed(root, n):
    target = tree(root, n)
    mask = target[:-4] + '_mask.bmp'
    run = subprocess.Popen([program, '-r', '--watch', root], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
    try:
        for line in run.stderr:
            if 'watching' in line:
                break
        times = []
        for k in range(saves):
            before = os.stat(mask).st_ino
            with open(target + '.tmp~', 'wb') as f:
                f.write(bmp(100 + k))
            start = time.monotonic()
            os.rename(target + '.tmp~', target)
            while os.stat(mask).st_ino == before:
                if time.monotonic() - start > 120:
                    sys.exit('no new mask within 120 s')
                time.sleep(0.002)
            times.append(time.monotonic() - start)
            time.sleep(0.3)
        return statistics.median(times)
    finally:
        run.terminate()
        run.wait()

small = timed(os.path.join(work, 'one'), 1)
large = timed(os.path.join(work, 'many'), count)
print('save to mask, 1 sprite:        %.3f s (median of %d)' % (small, saves))
print('save to mask, %d sprites: %.3f s (median of %d)' % (count, large, saves))
print('ratio large / small: %.2f' % (large / small))
EOF
