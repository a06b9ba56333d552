#!/bin/bash
# Peak memory (max RSS, /usr/bin/time %M) of pelloran-mask -j 1 on the largest
# pictures it takes, in every kind of mask, printed as a markdown table. A sheet
# streamed in bands needs the same few MiB whatever its size; a row far above
# the others means something holds the picture or the mask whole.
#
# usage: bench/bench_memory.sh [SETS_DIR] [REPS]
#   SETS_DIR  made by HUGE=1 bench/make-sprite-sets.sh: huge/ (a 16384 x 16384
#             BMP sheet), hugepng/ (the same sheet as RGBA PNG) and flat/
#             (flat.png: 16384 x 16384 pixels in some 32 KB)
#             (default /tmp/pelloran-sets)
#   REPS      runs of each row; the largest peak is reported (default 1)
# Environment:
#   PELLORAN_BIN  where pelloran-mask was built (default build/release/bin)
#   LIMIT_MIB     the peak each row must stay within (default 64)
# Every mask is written into a scratch folder beside the sets and deleted after
# its run; a 24-bit mask of a huge sheet is 805 MB. Exits 1 when a run failed or
# went over the limit, after printing the whole table.
set -Eeuo pipefail
trap 'echo "$0: command failed at line $LINENO" >&2' ERR

sets_dir=${1:-/tmp/pelloran-sets}
reps=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
bin=${PELLORAN_BIN:-$here/../build/release/bin}
pm=$bin/pelloran-mask
limit_mib=${LIMIT_MIB:-64}
gnu_time=/usr/bin/time

die() { echo "$0: $*" >&2; exit 1; }
[[ $reps =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive integer"
[[ $limit_mib =~ ^[1-9][0-9]*$ ]] || die "LIMIT_MIB must be a positive integer"
[ -x "$pm" ] || die "$pm not found; build the pelloran-mask target first"
[ -x "$gnu_time" ] || die "$gnu_time not found (Debian package time)"
sheet() {
    local f
    f=$(find "$sets_dir/$1" -maxdepth 1 -type f -name "*.$2" 2>/dev/null | sort | sed -n 1p)
    [ -n "$f" ] || die "no .$2 in $sets_dir/$1; run HUGE=1 bench/make-sprite-sets.sh $sets_dir"
    echo "$f"
}
bmp=$(sheet huge bmp)
png=$(sheet hugepng png)
flat=$(sheet flat png)

scratch=$(mktemp -d "$sets_dir/.bench_memory.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out
mem_file=$scratch/time

# Sprite, then the options of one row; "" for the defaults.
rows=(
    "$bmp|"
    "$bmp|-f 8"
    "$bmp|-t 000000 -t ff00ff"
    "$bmp|--format png"
    "$bmp|--depth 1"
    "$png|-a --format png"
    "$png|-a --depth 1"
    "$flat|"
    "$flat|--format png"
)

describe() { file -b "$1" | sed 's/^PC bitmap, //; s/, image size.*//; s/, non-interlaced//'; }

echo "pelloran-mask: $pm (built $(date -r "$pm" '+%F %T'))"
echo "peak: the largest max RSS of $reps run(s) (/usr/bin/time %M), masks written with -o;" \
     "limit $limit_mib MiB"
echo
echo "| sprite | file size | options | peak MiB | seconds | mask written | within $limit_mib MiB |"
echo "|---|---|---|---:|---:|---|---|"
failed=0
for row in "${rows[@]}"; do
    sprite=${row%%|*}
    read -r -a opts <<<"${row#*|}"
    peak=0 secs="" mask="" status=""
    for ((r = 0; r < reps; r++)); do
        rm -rf "$out"; mkdir "$out"; sync
        rc=0
        "$gnu_time" -f '%M %e' -o "$mem_file" "$pm" -q -j 1 "${opts[@]}" -o "$out" "$sprite" \
            >"$scratch/said" 2>&1 || rc=$?
        if [ $rc -ne 0 ]; then
            why=$(head -n 1 "$scratch/said")
            status="failed (exit $rc: ${why#"failed $sprite: "})"
            break
        fi
        read -r kb s < <(tail -n 1 "$mem_file")
        ((kb > peak)) && peak=$kb
        secs+=" $s"
        made=$(find "$out" -type f)
        [ "$(echo "$made" | grep -c .)" -eq 1 ] && [ -s "$made" ] || {
            status="no mask written"
            break
        }
        mask=$(describe "$made")
    done
    rm -rf "$out"
    name=$(basename "$(dirname "$sprite")")/$(basename "$sprite")
    size=$(numfmt --to=iec --suffix=B "$(stat -c %s "$sprite")")
    shown=${opts[*]:-(defaults)}
    if [ -n "$status" ]; then
        failed=1
        echo "| $name | $size | \`$shown\` | - | - | $status | no |"
        continue
    fi
    mib=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
    within=yes
    ((peak <= limit_mib * 1024)) || { within=NO; failed=1; }
    echo "| $name | $size | \`$shown\` | $mib | ${secs# } | $mask | $within |"
done
exit $failed
