#!/bin/sh
# Generates the sprite sets bench_batch and bench_cli.sh are run on:
#   OUT_DIR/small/       2000 sprites, each side 32..128 px
#   OUT_DIR/sheets512/   50 sheets of 512 x 512
#   OUT_DIR/sheets4096/  4 sheets of 4096 x 4096
#   OUT_DIR/png512/      50 RGBA PNG sheets of 512 x 512
#   OUT_DIR/png4096/     4 RGBA PNG sheets of 4096 x 4096
#   with HUGE=1 only:
#   OUT_DIR/huge/        one sheet of 16384 x 16384, 805 MB on disk
#   OUT_DIR/hugepng/     one RGBA PNG sheet of 16384 x 16384
#   OUT_DIR/flat/        flat.png: 16384 x 16384 pixels of one colour in some 32 KB, a
#                        1-bit grey PNG written by Pillow (Debian's python3-pil)
#                        Making each huge sheet takes about 1 GB of memory.
# The BMP sets are 24-bit sprites on a black background. A PNG set is drawn from the same
# seed as the BMP set of its size, so it holds the same shapes, on a see-through background
# (alpha 0, RGB black) instead. Every set is written afresh from fixed seeds, so two runs
# give the same files. Without HUGE=1 existing huge sets are left as they are.
#
# usage: [HUGE=1] bench/make-sprite-sets.sh OUT_DIR [BIN_DIR]
# BIN_DIR (or $PELLORAN_BIN) is where make_sprites was built; build/release/bin by default.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 OUT_DIR [BIN_DIR]" >&2
    exit 2
fi
out=$1
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-${PELLORAN_BIN:-$here/../build/release/bin}}
gen=$bin/make_sprites
py=/usr/bin/python3
if [ ! -x "$gen" ]; then
    echo "$0: $gen not found; build the make_sprites target first" >&2
    exit 1
fi

sets="small sheets512 sheets4096 png512 png4096"
if [ "${HUGE:-0}" = 1 ]; then
    sets="$sets huge hugepng flat"
    "$py" -c 'import PIL' 2>/dev/null || {
        echo "$0: $py cannot import PIL; install Debian's python3-pil" >&2
        exit 1
    }
fi

# Masks or copies left from an earlier run would change what is measured.
for set in $sets; do
    rm -rf "$out/$set" "$out/$set.copy"
done

"$gen" "$out/small" 2000 32 128 1
"$gen" "$out/sheets512" 50 512 512 2
"$gen" "$out/sheets4096" 4 4096 4096 3
"$gen" --png "$out/png512" 50 512 512 2
"$gen" --png "$out/png4096" 4 4096 4096 3
if [ "${HUGE:-0}" = 1 ]; then
    "$gen" "$out/huge" 1 16384 16384 4
    "$gen" --png "$out/hugepng" 1 16384 16384 4
    mkdir -p "$out/flat"
    "$py" -c 'import sys
from PIL import Image
Image.new("1", (16384, 16384), 0).save(sys.argv[1])' "$out/flat/flat.png"
fi

for set in $sets; do
    printf '%-12s %5s files %6s\n' "$set" "$(ls "$out/$set" | wc -l)" "$(du -sh "$out/$set" | cut -f1)"
done
