#!/bin/sh
# Generates the three sprite sets bench_batch is run on:
#   OUT_DIR/small/       2000 sprites, each side 32..128 px
#   OUT_DIR/sheets512/   50 sheets of 512 x 512
#   OUT_DIR/sheets4096/  4 sheets of 4096 x 4096
#   OUT_DIR/huge/        with HUGE=1 only: one sheet of 16384 x 16384, 805 MB
#                        on disk; making it takes about 1 GB of memory
# Every set is written afresh from fixed seeds, so two runs give the same files.
# Without HUGE=1 an existing huge/ is left as it is.
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
if [ ! -x "$gen" ]; then
    echo "$0: $gen not found; build the make_sprites target first" >&2
    exit 1
fi

sets="small sheets512 sheets4096"
[ "${HUGE:-0}" = 1 ] && sets="$sets huge"

# Masks or copies left from an earlier run would change what is measured.
for set in $sets; do
    rm -rf "$out/$set" "$out/$set.copy"
done

"$gen" "$out/small" 2000 32 128 1
"$gen" "$out/sheets512" 50 512 512 2
"$gen" "$out/sheets4096" 4 4096 4096 3
if [ "${HUGE:-0}" = 1 ]; then
    "$gen" "$out/huge" 1 16384 16384 4
fi

for set in $sets; do
    printf '%-12s %5s files %6s\n' "$set" "$(ls "$out/$set" | wc -l)" "$(du -sh "$out/$set" | cut -f1)"
done
