#!/bin/bash
# Times pelloran-mask against a plain copy of the same files, ImageMagick's
# mogrify and an OpenCV script doing the same masking, on the sets made by
# make-sprite-sets.sh, and reports the peak memory (max RSS) of each.
#
# usage: bench/bench_cli.sh [SETS_DIR] [REPS]
#   SETS_DIR  holds small/, sheets512/, sheets4096/ and, if made with HUGE=1,
#             huge/ (one 16384 x 16384 sheet)   (default /tmp/pelloran-sets)
#   REPS      repetitions per contender; the median is reported   (default 5)
# Environment:
#   PELLORAN_BIN    where pelloran-mask was built (default build/release/bin)
#   SETS            sets to run (default "small sheets512 sheets4096", plus
#                   huge when SETS_DIR has it); on huge only cp -r and
#                   pelloran-mask -j 1 run: the others need gigabytes for it
#   WITH_CONVERT=1  also time one ImageMagick convert per file
#   PER_FILE_REPS   repetitions for convert per file (default REPS); it is
#                   by far the slowest row, so it may be lowered on its own
# Needs /usr/bin/time, ImageMagick and Debian's python3-opencv for
# /usr/bin/python3 (the python3 first on PATH may lack numpy).
# Leave some six minutes after anything that deleted many files on the same
# file system (this script's own clean-up included) before starting: see
# the note on scratch space below. ext4 counts an inode as recently freed for
# 60 s, or for 360 s while its inode table block is dirty, and creating
# files beside it keeps that block dirty.
set -Eeuo pipefail
# Runners print their results through $(...), which would otherwise drop -e
# and let a failed copy or mask run be timed as if it had worked.
shopt -s inherit_errexit
# set -e alone would end a failed run without a word.
trap 'echo "$0: command failed at line $LINENO" >&2' ERR

sets_dir=${1:-/tmp/pelloran-sets}
reps=${2:-5}
per_file_reps=${PER_FILE_REPS:-$reps}
here=$(cd "$(dirname "$0")" && pwd)
bin=${PELLORAN_BIN:-$here/../build/release/bin}
pm=$bin/pelloran-mask
with_convert=${WITH_CONVERT:-0}
if [ -n "${SETS:-}" ]; then
    sets=$SETS
else
    sets="small sheets512 sheets4096"
    [ -d "$sets_dir/huge" ] && sets+=" huge"
fi

# /usr/local/bin/convert on some machines is not ImageMagick, so never rely on PATH.
im_convert=/usr/bin/convert
im_mogrify=/usr/bin/mogrify
im_compare=/usr/bin/compare
gnu_time=/usr/bin/time
py=/usr/bin/python3
cv_script=$here/opencv_mask.py
# Same job as pelloran-mask's defaults: background 000000 becomes white, the rest black.
im_ops=(-alpha off -fill white +opaque black -negate -type TrueColor)

die() { echo "$0: $*" >&2; exit 1; }
[[ $reps =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive integer"
[[ $per_file_reps =~ ^[1-9][0-9]*$ ]] || die "PER_FILE_REPS must be a positive integer"
[ -d "$sets_dir" ] || die "$sets_dir missing; run bench/make-sprite-sets.sh $sets_dir"
[ -x "$pm" ] || die "$pm not found; build the pelloran-mask target first"
for t in "$im_convert" "$im_mogrify" "$im_compare"; do
    [ -x "$t" ] || die "$t not found (Debian package imagemagick)"
done
[ -x "$gnu_time" ] || die "$gnu_time not found (Debian package time)"
cv_version=$("$py" -c 'import cv2; print(cv2.__version__)' 2>/dev/null) ||
    die "$py cannot import cv2; install Debian's python3-opencv (apt-get install python3-opencv)"

# Scratch space sits beside the sets so every contender writes to the same
# file system. Outputs are not deleted between runs but moved aside into
# spent/, emptied, and deleted at the very end: ext4 skips recently freed
# inodes when it allocates new ones, so thousands of deletions just before a
# run make creating files in that run several times slower for whoever runs
# next. Emptying still hands their pages back; keeping them full made every
# run write into memory the VM had never touched, which is slower again.
scratch=$(mktemp -d "$sets_dir/.bench_cli.XXXXXX")
spent=$scratch/spent
mkdir "$spent"
trap 'rm -rf "$scratch"' EXIT
empty_files() { find "$@" -type f -exec truncate -s 0 {} +; }
retire() {
    local dir; dir=$(mktemp -d "$spent/XXXXXX")
    mv "$1" "$dir/"
    empty_files "$dir"
}

# Only names like NAME_mask.EXT: a sprite whose name merely contains _mask
# somewhere else must survive the cleanup.
mask_re='.*/[^/]*_mask\.[^./]+'
masks_in() { find "$1" -maxdepth 1 -type f -regextype posix-extended -regex "$mask_re" "${@:2}"; }

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() {
    tr ' ' '\n' | sed '/^$/d' | sort -g | awk '
        { v[NR] = $1 }
        END { if (NR % 2) printf "%.4f", v[(NR + 1) / 2]
              else if (NR) printf "%.4f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Peak memory barely moves between runs; the worst one is what a user must have.
max_mib() {
    tr ' ' '\n' | sed '/^$/d' | sort -g | awk '
        { m = $1 } END { if (NR) printf "%.1f", m / 1024 }'
}
# Sets that leave a contender out get "-" for it and for its ratios.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "") print "-"; else if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
or_dash() { echo "${1:--}"; }

# /usr/bin/time -f %M: the peak resident set of the command, in kB. It wraps
# every contender alike, so the fork it adds costs each the same.
mem_file=$scratch/maxrss
timed() { "$gnu_time" -f %M -o "$mem_file" "$@"; }
peak_kb() { tail -n 1 "$mem_file"; }

# Each runner does its own untimed preparation, then prints the seconds of
# the timed part alone and the peak kB. Dirty pages left by the previous
# contender are flushed before the clock starts so nobody pays for another's
# writes.
run_copy() {
    local set=$1 out=$scratch/copy
    rm -rf "$out"; sync
    local t0 t1; t0=$(now)
    timed cp -r "$set" "$out"
    t1=$(now)
    retire "$out"
    echo "$(elapsed "$t0" "$t1") $(peak_kb)"
}

run_pm() {
    local set=$1 jobs=$2 n=$3
    sync
    local t0 t1; t0=$(now)
    timed "$pm" -q -j "$jobs" --overwrite "$set"
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(masks_in "$set" | wc -l)
    local dir; dir=$(mktemp -d "$spent/XXXXXX")
    masks_in "$set" -exec mv -t "$dir" {} +
    empty_files "$dir"
    [ "$made" -eq "$n" ] || die "pelloran-mask -j $jobs wrote $made masks for $n sprites in $set"
    echo "$(elapsed "$t0" "$t1") $kb"
}

# One process per file: its peak is the largest of any of them.
run_convert() {
    local set=$1 out=$scratch/convert f b kb=0 k
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    for f in "$set"/*.bmp; do
        b=${f##*/}
        timed "$im_convert" "$f" "${im_ops[@]}" "BMP3:$out/${b%.*}_mask.bmp"
        k=$(peak_kb); ((k > kb)) && kb=$k
    done
    t1=$(now)
    retire "$out"
    echo "$(elapsed "$t0" "$t1") $kb"
}

# mogrify and OpenCV are given a copy made once per set, so the sprites they
# read are never the ones pelloran-mask writes beside; -path keeps that copy
# intact.
run_mogrify() {
    local src=$1 out=$scratch/mogrify
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    timed "$im_mogrify" -path "$out" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src"/*.bmp
    t1=$(now)
    retire "$out"
    echo "$(elapsed "$t0" "$t1") $(peak_kb)"
}

run_opencv() {
    local src=$1 n=$2 out=$scratch/opencv
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    timed "$py" "$cv_script" "$src" "$out"
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(masks_in "$out" | wc -l)
    retire "$out"
    [ "$made" -eq "$n" ] || die "OpenCV wrote $made masks for $n sprites"
    echo "$(elapsed "$t0" "$t1") $kb"
}

# Checks, outside any timing, that all contenders produce the same masks.
verify_same() {
    local set=$1 src=$scratch/mogrify-src sample b dir=$scratch/verify
    sample=$(find "$set" -maxdepth 1 -name '*.bmp' | sort | sed -n 1p)
    b=${sample##*/}; b=${b%.*}
    rm -rf "$dir"; mkdir -p "$dir/pm" "$dir/mog" "$dir/cv-src" "$dir/cv"
    cp "$sample" "$dir/pm/$b.bmp"
    cp "$sample" "$dir/cv-src/$b.bmp"
    "$pm" -q -j 1 "$dir/pm/$b.bmp"
    "$im_mogrify" -path "$dir/mog" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src/$b.bmp"
    "$py" "$cv_script" "$dir/cv-src" "$dir/cv"
    local ae_c=- ae_m ae_cv fc=- fm fcv
    ae_m=$("$im_compare" -metric AE "$dir/pm/${b}_mask.bmp" "$dir/mog/$b.bmp" null: 2>&1 || true)
    ae_cv=$("$im_compare" -metric AE "$dir/pm/${b}_mask.bmp" "$dir/cv/${b}_mask.bmp" null: 2>&1 || true)
    bmp_kind() { file -b "$1" | grep -o 'Windows 3.x format, [0-9]* x [0-9]* x [0-9]*' || echo "unexpected format"; }
    fm=$(bmp_kind "$dir/mog/$b.bmp")
    fcv=$(bmp_kind "$dir/cv/${b}_mask.bmp")
    if [ "$with_convert" = 1 ]; then
        "$im_convert" "$sample" "${im_ops[@]}" "BMP3:$dir/$b.convert.bmp"
        ae_c=$("$im_compare" -metric AE "$dir/pm/${b}_mask.bmp" "$dir/$b.convert.bmp" null: 2>&1 || true)
        fc=$(bmp_kind "$dir/$b.convert.bmp")
    fi
    local also_c="" also_fc=""
    [ "$with_convert" = 1 ] && { also_c=", convert $ae_c"; also_fc=", convert [$fc]"; }
    echo "  check on $b.bmp: differing pixels vs pelloran-mask: mogrify $ae_m, OpenCV $ae_cv$also_c"
    echo "  outputs: mogrify [$fm], OpenCV [$fcv]$also_fc"
    retire "$dir"
    [ "$ae_m" = 0 ] && [ "$ae_cv" = 0 ] && { [ "$with_convert" != 1 ] || [ "$ae_c" = 0 ]; } ||
        die "mogrify, OpenCV or convert masks differ from pelloran-mask's on $sample"
}

# The binary is often rebuilt while benchmarks run; its time tells which build was measured.
echo "pelloran-mask: $pm (built $(date -r "$pm" '+%F %T'))"
echo "ImageMagick:   $("$im_convert" -version | sed -n 1p)"
echo "OpenCV:        $cv_version ($py $cv_script, one process per set)"
echo "cores: $(nproc); MAGICK_THREAD_LIMIT ${MAGICK_THREAD_LIMIT:-unset (ImageMagick default)}"
if [ "$with_convert" = 1 ]; then
    echo "reps: $reps (convert per file: $per_file_reps); medians of wall-clock seconds"
else
    echo "reps: $reps; medians of wall-clock seconds (WITH_CONVERT=1 adds convert per file)"
fi
echo "peak memory: the largest max RSS of any rep (/usr/bin/time %M), in MiB"
echo "contenders alternate within each repetition, starting one later each time;"
echo "sync before each timed run, outside the timing"
echo "outputs are emptied between runs, not deleted, and removed at the end"
echo

all=(copy pm1 pm2 mogrify opencv)
[ "$with_convert" = 1 ] && all+=(convert)
declare -A label=([copy]="cp -r (floor)" [pm1]="pelloran-mask -j 1" [pm2]="pelloran-mask -j 2"
    [mogrify]="ImageMagick mogrify, whole set" [opencv]="OpenCV, one process"
    [convert]="ImageMagick convert, per file")

summary=()
for name in $sets; do
    set=$sets_dir/$name
    [ -d "$set" ] || die "$set missing; run bench/make-sprite-sets.sh $sets_dir (HUGE=1 for huge)"
    # Masks left over from elsewhere would be masked again and then deleted as ours.
    leftovers=$(masks_in "$set" | wc -l)
    [ "$leftovers" -eq 0 ] || die "$set already holds $leftovers *_mask files; remove them first"
    n=$(find "$set" -maxdepth 1 -type f -name '*.bmp' | wc -l)
    total=$(find "$set" -maxdepth 1 -type f | wc -l)
    [ "$n" -eq "$total" ] || die "$set holds files other than .bmp sprites"

    echo "== $name: $n sprites, $(du -sh "$set" | cut -f1)"
    if [ "$name" = huge ]; then
        # ImageMagick holds 16384^2 pixels at 16 bits a channel, several GB, and
        # copying the sheet for it would only add 805 MB of writes.
        contenders=(copy pm1)
        echo "  only cp -r and pelloran-mask -j 1 on this set"
    else
        contenders=("${all[@]}")
        cp -r "$set" "$scratch/mogrify-src"
        verify_same "$set"
    fi

    declare -A times=() mems=() runs=()
    for c in "${contenders[@]}"; do times[$c]=""; mems[$c]=""; runs[$c]=0; done
    # The page cache would favour whoever reads the set first; one untimed pass evens that out.
    cat "$set"/* >/dev/null
    for ((r = 0; r < reps; r++)); do
        for ((k = 0; k < ${#contenders[@]}; k++)); do
            c=${contenders[(r + k) % ${#contenders[@]}]}
            case $c in
                copy)    out=$(run_copy "$set") ;;
                pm1)     out=$(run_pm "$set" 1 "$n") ;;
                pm2)     out=$(run_pm "$set" 2 "$n") ;;
                convert) [ "${runs[convert]}" -lt "$per_file_reps" ] || continue
                         out=$(run_convert "$set") ;;
                mogrify) out=$(run_mogrify "$scratch/mogrify-src") ;;
                opencv)  out=$(run_opencv "$scratch/mogrify-src" "$n") ;;
            esac
            times[$c]+=" ${out% *}"
            mems[$c]+=" ${out#* }"
            runs[$c]=$((runs[$c] + 1))
        done
    done
    [ -d "$scratch/mogrify-src" ] && retire "$scratch/mogrify-src"

    declare -A med=() mib=()
    for c in "${contenders[@]}"; do
        med[$c]=$(echo "${times[$c]}" | median)
        mib[$c]=$(echo "${mems[$c]}" | max_mib)
    done

    printf '  %-34s %9s %9s %5s   %s\n' contender "median s" "peak MiB" reps "all runs (s)"
    for c in "${contenders[@]}"; do
        printf '  %-34s %9s %9s %5s   %s\n' "${label[$c]}" "${med[$c]}" "${mib[$c]}" "${runs[$c]}" "${times[$c]# }"
    done
    r_j1_copy=$(ratio "${med[pm1]}" "${med[copy]}")
    r_mog_j1=$(ratio "${med[mogrify]:-}" "${med[pm1]}")
    r_cv_j1=$(ratio "${med[opencv]:-}" "${med[pm1]}")
    r_j1_j2=$(ratio "${med[pm1]}" "${med[pm2]:-}")
    # The goal is against the faster of the two.
    best=$(printf '%s\n' "${med[mogrify]:-}" "${med[opencv]:-}" | sed '/^$/d' | sort -g | sed -n 1p)
    r_best_j1=$(ratio "$best" "${med[pm1]}")
    echo "  ratios: pm-j1/copy $r_j1_copy   mogrify/pm-j1 $r_mog_j1   OpenCV/pm-j1 $r_cv_j1" \
         "  faster-of-them/pm-j1 $r_best_j1   pm-j1/pm-j2 $r_j1_j2"
    echo
    line=$(printf '%-10s %7s %7s %7s %7s %7s  %6s %6s %6s %6s  %7s %7s %7s %7s %7s' "$name" \
        "${med[copy]}" "${med[pm1]}" "$(or_dash "${med[pm2]:-}")" "$(or_dash "${med[mogrify]:-}")" \
        "$(or_dash "${med[opencv]:-}")" "$r_j1_copy" "$r_mog_j1" "$r_cv_j1" "$r_j1_j2" \
        "${mib[copy]}" "${mib[pm1]}" "$(or_dash "${mib[pm2]:-}")" "$(or_dash "${mib[mogrify]:-}")" \
        "$(or_dash "${mib[opencv]:-}")")
    if [ "$with_convert" = 1 ]; then
        line+=$(printf '  %7s %6s %7s' "$(or_dash "${med[convert]:-}")" \
            "$(ratio "${med[convert]:-}" "${med[pm1]}")" "$(or_dash "${mib[convert]:-}")")
    fi
    summary+=("$line")
    unset times mems runs med mib
done

echo "== summary: median seconds of $reps reps, their ratios, and peak MiB (largest of the reps)"
head=$(printf '%-10s %7s %7s %7s %7s %7s  %6s %6s %6s %6s  %7s %7s %7s %7s %7s' set 'cp -r' 'pm -j1' \
    'pm -j2' mogrify OpenCV j1/cp mog/j1 cv/j1 j1/j2 MB:cp MB:j1 MB:j2 MB:mog MB:cv)
[ "$with_convert" = 1 ] && head+=$(printf '  %7s %6s %7s' convert cvt/j1 MB:cvt)
echo "$head"
printf '%s\n' "${summary[@]}"
