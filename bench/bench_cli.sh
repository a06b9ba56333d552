#!/bin/bash
# Times pelloran-mask against ImageMagick's mogrify and an OpenCV script doing the
# same masking, on the sets made by make-sprite-sets.sh, and reports the peak memory
# (max RSS) of each. On the BMP sets the floor is a plain copy of the same files; on
# the RGBA PNG sets, masked by alpha into an output folder, it is png_decode_floor:
# libpng alone decoding the same files, nothing written.
#
# usage: bench/bench_cli.sh [SETS_DIR] [REPS]
#   SETS_DIR  holds small/, sheets512/, sheets4096/, png512/, png4096/ and, if made
#             with HUGE=1, huge/ and hugepng/ (one 16384 x 16384 sheet each)
#             (default /tmp/pelloran-sets)
#   REPS      repetitions per contender; the median is reported   (default 5)
# Environment:
#   PELLORAN_BIN    where pelloran-mask and png_decode_floor were built
#                   (default build/release/bin)
#   BASE_BIN        where an older build's pelloran-mask is: it runs as two more
#                   contenders (-j 1, -j 2), interleaved with the rest, so a change
#                   is measured before and after in one run. On a PNG set it runs
#                   only if it masks that set's first sprite.
#   SETS            sets to run (default "small sheets512 sheets4096 png512
#                   png4096", plus huge and hugepng when SETS_DIR has them); a set
#                   holds either .bmp or .png sprites. On huge and hugepng only the
#                   floor and pelloran-mask -j 1 run: the others need gigabytes
#   WITH_CONVERT=1  also time one ImageMagick convert per file (BMP sets)
#   PER_FILE_REPS   repetitions for convert per file (default REPS); it is
#                   by far the slowest row, so it may be lowered on its own
# Needs /usr/bin/time, ImageMagick and Debian's python3-opencv for
# /usr/bin/python3 (the python3 first on PATH may lack numpy).
# bench/bench_memory.sh measures pelloran-mask's peak memory on the huge sets in
# every kind of mask.
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
floor=$bin/png_decode_floor
base=${BASE_BIN:+$BASE_BIN/pelloran-mask}
with_convert=${WITH_CONVERT:-0}
if [ -n "${SETS:-}" ]; then
    sets=$SETS
else
    sets="small sheets512 sheets4096 png512 png4096"
    [ -d "$sets_dir/huge" ] && sets+=" huge"
    [ -d "$sets_dir/hugepng" ] && sets+=" hugepng"
fi

# /usr/local/bin/convert on some machines is not ImageMagick, so never rely on PATH.
im_convert=/usr/bin/convert
im_mogrify=/usr/bin/mogrify
im_compare=/usr/bin/compare
gnu_time=/usr/bin/time
py=/usr/bin/python3
cv_script=$here/opencv_mask.py
cv_alpha_script=$here/opencv_alpha_mask.py
# Same job as pelloran-mask's defaults: background 000000 becomes white, the rest black.
im_ops=(-alpha off -fill white +opaque black -negate -type TrueColor)
# Same job as pelloran-mask -a: alpha 0 becomes white, the rest black (a grey PNG).
im_alpha_ops=(-alpha extract -negate)
pm_png_ops=(-a --format png)

die() { echo "$0: $*" >&2; exit 1; }
[[ $reps =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive integer"
[[ $per_file_reps =~ ^[1-9][0-9]*$ ]] || die "PER_FILE_REPS must be a positive integer"
[ -d "$sets_dir" ] || die "$sets_dir missing; run bench/make-sprite-sets.sh $sets_dir"
[ -x "$pm" ] || die "$pm not found; build the pelloran-mask target first"
[ -z "$base" ] || [ -x "$base" ] || die "$base (from BASE_BIN) not found"
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
files_in() { find "$1" -maxdepth 1 -type f "${@:2}" | wc -l; }

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

# On BMP sets masks go beside the sprites, as users run it.
run_pm() {
    local prog=$1 jobs=$2 set=$3 n=$4
    sync
    local t0 t1; t0=$(now)
    timed "$prog" -q -j "$jobs" --overwrite "$set"
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(masks_in "$set" | wc -l)
    local dir; dir=$(mktemp -d "$spent/XXXXXX")
    masks_in "$set" -exec mv -t "$dir" {} +
    empty_files "$dir"
    [ "$made" -eq "$n" ] || die "$prog -j $jobs wrote $made masks for $n sprites in $set"
    echo "$(elapsed "$t0" "$t1") $kb"
}

# On PNG sets every contender reads the set itself and writes into a folder of its own.
run_pm_png() {
    local prog=$1 jobs=$2 set=$3 n=$4 out=$scratch/pm-png
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    timed "$prog" -q -j "$jobs" "${pm_png_ops[@]}" -o "$out" "$set"/*.png
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(masks_in "$out" | wc -l)
    retire "$out"
    [ "$made" -eq "$n" ] || die "$prog -j $jobs wrote $made masks for $n sprites of $set"
    echo "$(elapsed "$t0" "$t1") $kb"
}

run_floor() {
    local set=$1
    sync
    local t0 t1; t0=$(now)
    timed "$floor" "$set"/*.png
    t1=$(now)
    echo "$(elapsed "$t0" "$t1") $(peak_kb)"
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

# On BMP sets mogrify and OpenCV are given a copy made once per set, so the
# sprites they read are never the ones pelloran-mask writes beside; -path
# keeps that copy intact.
run_mogrify() {
    local kind=$1 src=$2 n=$3 out=$scratch/mogrify
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    if [ "$kind" = png ]; then
        timed "$im_mogrify" -path "$out" -format png "${im_alpha_ops[@]}" "$src"/*.png
    else
        timed "$im_mogrify" -path "$out" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src"/*.bmp
    fi
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(files_in "$out")
    retire "$out"
    [ "$made" -eq "$n" ] || die "mogrify wrote $made masks for $n sprites"
    echo "$(elapsed "$t0" "$t1") $kb"
}

run_opencv() {
    local kind=$1 src=$2 n=$3 out=$scratch/opencv script=$cv_script
    [ "$kind" = png ] && script=$cv_alpha_script
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    timed "$py" "$script" "$src" "$out"
    t1=$(now)
    local kb; kb=$(peak_kb)
    local made; made=$(masks_in "$out" | wc -l)
    retire "$out"
    [ "$made" -eq "$n" ] || die "OpenCV wrote $made masks for $n sprites"
    echo "$(elapsed "$t0" "$t1") $kb"
}

differing() { "$im_compare" -metric AE "$1" "$2" null: 2>&1 || true; }
bmp_kind() { file -b "$1" | grep -o 'Windows 3.x format, [0-9]* x [0-9]* x [0-9]*' || echo "unexpected format"; }
png_kind() { file -b "$1" | grep -o 'PNG image data, [0-9]* x [0-9]*, [^,]*' || echo "unexpected format"; }

# Checks, outside any timing, that all contenders produce the same masks.
verify_bmp() {
    local set=$1 src=$scratch/mogrify-src sample b dir=$scratch/verify
    sample=$(find "$set" -maxdepth 1 -name '*.bmp' | sort | sed -n 1p)
    b=${sample##*/}; b=${b%.*}
    rm -rf "$dir"; mkdir -p "$dir/pm" "$dir/mog" "$dir/cv-src" "$dir/cv" "$dir/base"
    cp "$sample" "$dir/pm/$b.bmp"
    cp "$sample" "$dir/cv-src/$b.bmp"
    "$pm" -q -j 1 "$dir/pm/$b.bmp"
    "$im_mogrify" -path "$dir/mog" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src/$b.bmp"
    "$py" "$cv_script" "$dir/cv-src" "$dir/cv"
    local ae_c=- ae_m ae_cv ae_b=0 fc=- fm fcv
    ae_m=$(differing "$dir/pm/${b}_mask.bmp" "$dir/mog/$b.bmp")
    ae_cv=$(differing "$dir/pm/${b}_mask.bmp" "$dir/cv/${b}_mask.bmp")
    fm=$(bmp_kind "$dir/mog/$b.bmp")
    fcv=$(bmp_kind "$dir/cv/${b}_mask.bmp")
    if [ "$with_convert" = 1 ]; then
        "$im_convert" "$sample" "${im_ops[@]}" "BMP3:$dir/$b.convert.bmp"
        ae_c=$(differing "$dir/pm/${b}_mask.bmp" "$dir/$b.convert.bmp")
        fc=$(bmp_kind "$dir/$b.convert.bmp")
    fi
    if [ -n "$base" ]; then
        cp "$sample" "$dir/base/$b.bmp"
        "$base" -q -j 1 "$dir/base/$b.bmp"
        ae_b=$(differing "$dir/pm/${b}_mask.bmp" "$dir/base/${b}_mask.bmp")
    fi
    local also_c="" also_fc="" also_b=""
    [ "$with_convert" = 1 ] && { also_c=", convert $ae_c"; also_fc=", convert [$fc]"; }
    [ -n "$base" ] && also_b=", base build $ae_b"
    echo "  check on $b.bmp: differing pixels vs pelloran-mask: mogrify $ae_m, OpenCV $ae_cv$also_c$also_b"
    echo "  outputs: mogrify [$fm], OpenCV [$fcv]$also_fc"
    retire "$dir"
    [ "$ae_m" = 0 ] && [ "$ae_cv" = 0 ] && [ "$ae_b" = 0 ] &&
        { [ "$with_convert" != 1 ] || [ "$ae_c" = 0 ]; } ||
        die "mogrify, OpenCV, convert or base masks differ from pelloran-mask's on $sample"
}

# pelloran-mask writes RGB PNG masks, mogrify and OpenCV grey ones: pixels are
# compared, not bytes. Sets base_png to 1 when the base build masks PNG sprites.
verify_png() {
    local set=$1 sample b dir=$scratch/verify
    sample=$(find "$set" -maxdepth 1 -name '*.png' | sort | sed -n 1p)
    b=${sample##*/}; b=${b%.*}
    rm -rf "$dir"; mkdir -p "$dir/pm" "$dir/mog" "$dir/cv-src" "$dir/cv" "$dir/base"
    cp "$sample" "$dir/cv-src/$b.png"
    "$pm" -q -j 1 "${pm_png_ops[@]}" -o "$dir/pm" "$sample"
    "$im_mogrify" -path "$dir/mog" -format png "${im_alpha_ops[@]}" "$sample"
    "$py" "$cv_alpha_script" "$dir/cv-src" "$dir/cv"
    local mask=$dir/pm/${b}_mask.png ae_m ae_cv ae_b=0 white also_b=""
    ae_m=$(differing "$mask" "$dir/mog/$b.png")
    ae_cv=$(differing "$mask" "$dir/cv/${b}_mask.png")
    # Masks that agree because each is one colour would prove nothing.
    white=$("$im_convert" "$mask" -format '%[fx:mean]' info:)
    base_png=0
    if [ -n "$base" ]; then
        local why
        if why=$("$base" -q -j 1 "${pm_png_ops[@]}" -o "$dir/base" "$sample" 2>&1); then
            base_png=1
            ae_b=$(differing "$mask" "$dir/base/${b}_mask.png")
            also_b=", base build $ae_b"
        else
            echo "  the base build does not mask $b.png, so it is left out here: $why"
        fi
    fi
    echo "  check on $b.png: differing pixels vs pelloran-mask: mogrify $ae_m, OpenCV $ae_cv$also_b;" \
         "white share $white"
    echo "  outputs: pelloran-mask [$(png_kind "$mask")], mogrify [$(png_kind "$dir/mog/$b.png")]," \
         "OpenCV [$(png_kind "$dir/cv/${b}_mask.png")]"
    retire "$dir"
    [ "$ae_m" = 0 ] && [ "$ae_cv" = 0 ] && [ "$ae_b" = 0 ] ||
        die "mogrify, OpenCV or base masks differ from pelloran-mask's on $sample"
    awk -v w="$white" 'BEGIN { exit !(w > 0 && w < 1) }' ||
        die "pelloran-mask's mask of $sample is all one colour (white share $white)"
}

# The binary is often rebuilt while benchmarks run; its time tells which build was measured.
echo "pelloran-mask: $pm (built $(date -r "$pm" '+%F %T'))"
[ -n "$base" ] && echo "base build:    $base (built $(date -r "$base" '+%F %T'))"
echo "ImageMagick:   $("$im_convert" -version | sed -n 1p)"
echo "OpenCV:        $cv_version (/usr/bin/python3, one process per set)"
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
echo "BMP sets: masks beside the sprites, pelloran-mask's defaults (key 000000)"
echo "PNG sets: pelloran-mask ${pm_png_ops[*]} -o DIR; mogrify ${im_alpha_ops[*]};" \
     "OpenCV by alpha; png_decode_floor decodes only"
echo

declare -A label=([copy]="cp -r (floor)" [floor]="png_decode_floor (floor)"
    [pm1]="pelloran-mask -j 1" [pm2]="pelloran-mask -j 2"
    [base1]="base build -j 1" [base2]="base build -j 2"
    [mogrify]="ImageMagick mogrify, whole set" [opencv]="OpenCV, one process"
    [convert]="ImageMagick convert, per file")

summary_bmp=() summary_png=()
for name in $sets; do
    set=$sets_dir/$name
    [ -d "$set" ] || die "$set missing; run bench/make-sprite-sets.sh $sets_dir (HUGE=1 for huge, hugepng)"
    # Masks left over from elsewhere would be masked again and then deleted as ours.
    leftovers=$(masks_in "$set" | wc -l)
    [ "$leftovers" -eq 0 ] || die "$set already holds $leftovers *_mask files; remove them first"
    total=$(files_in "$set")
    n_bmp=$(files_in "$set" -name '*.bmp')
    n_png=$(files_in "$set" -name '*.png')
    if [ "$n_bmp" -gt 0 ] && [ "$n_bmp" -eq "$total" ]; then
        kind=bmp n=$n_bmp
    elif [ "$n_png" -gt 0 ] && [ "$n_png" -eq "$total" ]; then
        kind=png n=$n_png
        [ -x "$floor" ] || die "$floor not found; build the png_decode_floor target first"
    else
        die "$set must hold .bmp sprites only or .png sprites only"
    fi

    echo "== $name: $n $kind sprites, $(du -sh "$set" | cut -f1)"
    big=0
    case $name in huge | hugepng) big=1 ;; esac
    if [ $kind = bmp ]; then
        floor_c=copy
        if [ $big = 1 ]; then
            # ImageMagick holds 16384^2 pixels at 16 bits a channel, several GB, and
            # copying the sheet for it would only add 805 MB of writes.
            contenders=(copy pm1)
            [ -n "$base" ] && contenders+=(base1)
        else
            cp -r "$set" "$scratch/mogrify-src"
            verify_bmp "$set"
            contenders=(copy pm1 pm2)
            [ -n "$base" ] && contenders+=(base1 base2)
            contenders+=(mogrify opencv)
            [ "$with_convert" = 1 ] && contenders+=(convert)
        fi
    else
        floor_c=floor
        base_png=0
        if [ $big = 1 ]; then
            contenders=(floor pm1)
            if [ -n "$base" ]; then
                # One probe, untimed, on the sheet itself.
                "$base" -q -j 1 "${pm_png_ops[@]}" -o "$scratch/probe" "$set"/*.png >/dev/null 2>&1 &&
                    base_png=1 || echo "  the base build does not mask this set: left out"
                [ -d "$scratch/probe" ] && retire "$scratch/probe"
            fi
            [ $base_png = 1 ] && contenders+=(base1)
        else
            verify_png "$set"
            contenders=(floor pm1 pm2)
            [ $base_png = 1 ] && contenders+=(base1 base2)
            contenders+=(mogrify opencv)
        fi
    fi
    [ $big = 1 ] && echo "  only the floor and pelloran-mask -j 1 on this set"

    declare -A times=() mems=() runs=()
    for c in "${contenders[@]}"; do times[$c]=""; mems[$c]=""; runs[$c]=0; done
    # The page cache would favour whoever reads the set first; one untimed pass evens that out.
    cat "$set"/* >/dev/null
    for ((r = 0; r < reps; r++)); do
        for ((k = 0; k < ${#contenders[@]}; k++)); do
            c=${contenders[(r + k) % ${#contenders[@]}]}
            case $kind:$c in
                bmp:copy)    out=$(run_copy "$set") ;;
                bmp:pm1)     out=$(run_pm "$pm" 1 "$set" "$n") ;;
                bmp:pm2)     out=$(run_pm "$pm" 2 "$set" "$n") ;;
                bmp:base1)   out=$(run_pm "$base" 1 "$set" "$n") ;;
                bmp:base2)   out=$(run_pm "$base" 2 "$set" "$n") ;;
                bmp:convert) [ "${runs[convert]}" -lt "$per_file_reps" ] || continue
                             out=$(run_convert "$set") ;;
                bmp:mogrify) out=$(run_mogrify bmp "$scratch/mogrify-src" "$n") ;;
                bmp:opencv)  out=$(run_opencv bmp "$scratch/mogrify-src" "$n") ;;
                png:floor)   out=$(run_floor "$set") ;;
                png:pm1)     out=$(run_pm_png "$pm" 1 "$set" "$n") ;;
                png:pm2)     out=$(run_pm_png "$pm" 2 "$set" "$n") ;;
                png:base1)   out=$(run_pm_png "$base" 1 "$set" "$n") ;;
                png:base2)   out=$(run_pm_png "$base" 2 "$set" "$n") ;;
                png:mogrify) out=$(run_mogrify png "$set" "$n") ;;
                png:opencv)  out=$(run_opencv png "$set" "$n") ;;
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
    r_j1_floor=$(ratio "${med[pm1]}" "${med[$floor_c]}")
    r_mog_j1=$(ratio "${med[mogrify]:-}" "${med[pm1]}")
    r_cv_j1=$(ratio "${med[opencv]:-}" "${med[pm1]}")
    r_j1_j2=$(ratio "${med[pm1]}" "${med[pm2]:-}")
    # The goal is against the faster of the two.
    best=$(printf '%s\n' "${med[mogrify]:-}" "${med[opencv]:-}" | sed '/^$/d' | sort -g | sed -n 1p)
    r_best_j1=$(ratio "$best" "${med[pm1]}")
    # Above 1: the build measured is faster than the base build.
    r_b1_j1=$(ratio "${med[base1]:-}" "${med[pm1]}")
    r_b2_j2=$(ratio "${med[base2]:-}" "${med[pm2]:-}")
    floor_short="cp"; [ $kind = png ] && floor_short="floor"
    also_base=""
    [ -n "$base" ] && also_base="   base-j1/pm-j1 $r_b1_j1   base-j2/pm-j2 $r_b2_j2"
    echo "  ratios: pm-j1/$floor_short $r_j1_floor   mogrify/pm-j1 $r_mog_j1   OpenCV/pm-j1 $r_cv_j1" \
         "  faster-of-them/pm-j1 $r_best_j1   pm-j1/pm-j2 $r_j1_j2$also_base"
    echo
    line=$(printf '%-10s %7s %7s %7s %7s %7s  %8s %6s %6s %7s %6s  %8s %7s %7s %7s %7s' "$name" \
        "${med[$floor_c]}" "${med[pm1]}" "$(or_dash "${med[pm2]:-}")" "$(or_dash "${med[mogrify]:-}")" \
        "$(or_dash "${med[opencv]:-}")" "$r_j1_floor" "$r_mog_j1" "$r_cv_j1" "$r_best_j1" "$r_j1_j2" \
        "${mib[$floor_c]}" "${mib[pm1]}" "$(or_dash "${mib[pm2]:-}")" "$(or_dash "${mib[mogrify]:-}")" \
        "$(or_dash "${mib[opencv]:-}")")
    if [ -n "$base" ]; then
        line+=$(printf '  %7s %7s %6s %6s %7s' "$(or_dash "${med[base1]:-}")" "$(or_dash "${med[base2]:-}")" \
            "$r_b1_j1" "$r_b2_j2" "$(or_dash "${mib[base1]:-}")")
    fi
    if [ $kind = bmp ] && [ "$with_convert" = 1 ]; then
        line+=$(printf '  %7s %6s %7s' "$(or_dash "${med[convert]:-}")" \
            "$(ratio "${med[convert]:-}" "${med[pm1]}")" "$(or_dash "${mib[convert]:-}")")
    fi
    if [ $kind = bmp ]; then summary_bmp+=("$line"); else summary_png+=("$line"); fi
    unset times mems runs med mib
done

summary_head() {
    local floor_name=$1 floor_short=$2 with_cvt=$3 head
    head=$(printf '%-10s %7s %7s %7s %7s %7s  %8s %6s %6s %7s %6s  %8s %7s %7s %7s %7s' set "$floor_name" \
        'pm -j1' 'pm -j2' mogrify OpenCV "j1/$floor_short" mog/j1 cv/j1 best/j1 j1/j2 \
        "MB:$floor_short" MB:j1 MB:j2 MB:mog MB:cv)
    [ -n "$base" ] && head+=$(printf '  %7s %7s %6s %6s %7s' 'base j1' 'base j2' b1/j1 b2/j2 MB:b1)
    [ "$with_cvt" = 1 ] && head+=$(printf '  %7s %6s %7s' convert cvt/j1 MB:cvt)
    echo "$head"
}
echo "== summary: median seconds of $reps reps, their ratios (best: the faster of mogrify and"
echo "   OpenCV), and peak MiB (largest of the reps)"
if [ ${#summary_bmp[@]} -gt 0 ]; then
    echo "BMP sprites, pelloran-mask's defaults; floor: cp -r"
    summary_head 'cp -r' cp "$with_convert"
    printf '%s\n' "${summary_bmp[@]}"
fi
if [ ${#summary_png[@]} -gt 0 ]; then
    [ ${#summary_bmp[@]} -gt 0 ] && echo
    echo "RGBA PNG sprites, pelloran-mask ${pm_png_ops[*]}; floor: png_decode_floor (libpng alone)"
    summary_head floor floor 0
    printf '%s\n' "${summary_png[@]}"
fi
