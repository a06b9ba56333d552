#!/bin/bash
# Times pelloran-mask against a plain copy of the same files and against
# ImageMagick doing the same masking, on the sets made by make-sprite-sets.sh.
#
# usage: bench/bench_cli.sh [SETS_DIR] [REPS]
#   SETS_DIR  holds small/, sheets512/, sheets4096/   (default /tmp/pelloran-sets)
#   REPS      repetitions per contender; the median is reported   (default 5)
# Environment:
#   PELLORAN_BIN    where pelloran-mask was built (default build/release/bin)
#   PER_FILE_REPS   repetitions for one convert per file (default REPS); it is
#                   by far the slowest row, so it may be lowered on its own
#   SETS            sets to run (default "small sheets512 sheets4096")
# Leave some six minutes after anything that deleted many files on the same
# file system (this script's own clean-up included) before starting: see
# the note on scratch space below. ext4 counts an inode as recently freed for
# 60 s, or for 360 s while its inode table block is dirty, and creating
# files beside it keeps that block dirty.
set -Eeuo pipefail
# set -e alone would end a failed run without a word.
trap 'echo "$0: command failed at line $LINENO" >&2' ERR

sets_dir=${1:-/tmp/pelloran-sets}
reps=${2:-5}
per_file_reps=${PER_FILE_REPS:-$reps}
sets=${SETS:-small sheets512 sheets4096}
here=$(cd "$(dirname "$0")" && pwd)
bin=${PELLORAN_BIN:-$here/../build/release/bin}
pm=$bin/pelloran-mask

# /usr/local/bin/convert on some machines is not ImageMagick, so never rely on PATH.
im_convert=/usr/bin/convert
im_mogrify=/usr/bin/mogrify
im_compare=/usr/bin/compare
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
              else printf "%.4f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# Each runner does its own untimed preparation, then prints the seconds of
# the timed part alone. Dirty pages left by the previous contender are
# flushed before the clock starts so nobody pays for another's writes.
run_copy() {
    local set=$1 out=$scratch/copy
    rm -rf "$out"; sync
    local t0; t0=$(now)
    cp -r "$set" "$out"
    elapsed "$t0" "$(now)"
    retire "$out"
}

run_pm() {
    local set=$1 jobs=$2 n=$3
    sync
    local t0 t1; t0=$(now)
    "$pm" -q -j "$jobs" --overwrite "$set"
    t1=$(now)
    local made; made=$(masks_in "$set" | wc -l)
    local dir; dir=$(mktemp -d "$spent/XXXXXX")
    masks_in "$set" -exec mv -t "$dir" {} +
    empty_files "$dir"
    [ "$made" -eq "$n" ] || die "pelloran-mask -j $jobs wrote $made masks for $n sprites in $set"
    elapsed "$t0" "$t1"
}

run_convert() {
    local set=$1 out=$scratch/convert f b
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    for f in "$set"/*.bmp; do
        b=${f##*/}
        "$im_convert" "$f" "${im_ops[@]}" "BMP3:$out/${b%.*}_mask.bmp"
    done
    t1=$(now)
    retire "$out"
    elapsed "$t0" "$t1"
}

# mogrify is given a copy made once per set, so the sprites it reads are
# never the ones pelloran-mask writes beside; -path keeps that copy intact.
run_mogrify() {
    local src=$1 out=$scratch/mogrify
    rm -rf "$out"; mkdir "$out"; sync
    local t0 t1; t0=$(now)
    "$im_mogrify" -path "$out" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src"/*.bmp
    t1=$(now)
    retire "$out"
    elapsed "$t0" "$t1"
}

# Checks, outside any timing, that both programs produce the same masks.
verify_same() {
    local set=$1 src=$scratch/mogrify-src sample b dir=$scratch/verify
    sample=$(find "$set" -maxdepth 1 -name '*.bmp' | sort | sed -n 1p)
    b=${sample##*/}; b=${b%.*}
    rm -rf "$dir"; mkdir -p "$dir/pm" "$dir/mog"
    cp "$sample" "$dir/pm/$b.bmp"
    "$pm" -q -j 1 "$dir/pm/$b.bmp"
    "$im_convert" "$sample" "${im_ops[@]}" "BMP3:$dir/$b.convert.bmp"
    "$im_mogrify" -path "$dir/mog" "${im_ops[@]}" -format bmp -define bmp:format=bmp3 "$src/$b.bmp"
    local ae_c ae_m
    ae_c=$("$im_compare" -metric AE "$dir/pm/${b}_mask.bmp" "$dir/$b.convert.bmp" null: 2>&1 || true)
    ae_m=$("$im_compare" -metric AE "$dir/pm/${b}_mask.bmp" "$dir/mog/$b.bmp" null: 2>&1 || true)
    local fc fm
    fc=$(file -b "$dir/$b.convert.bmp" | grep -o 'Windows 3.x format, [0-9]* x [0-9]* x [0-9]*' || echo "unexpected format")
    fm=$(file -b "$dir/mog/$b.bmp" | grep -o 'Windows 3.x format, [0-9]* x [0-9]* x [0-9]*' || echo "unexpected format")
    echo "  check on $b.bmp: differing pixels vs pelloran-mask: convert $ae_c, mogrify $ae_m"
    echo "  ImageMagick output: convert [$fc], mogrify [$fm]"
    retire "$dir"
    [ "$ae_c" = 0 ] && [ "$ae_m" = 0 ] || die "ImageMagick and pelloran-mask masks differ on $sample"
}

# The binary is often rebuilt while benchmarks run; its time tells which build was measured.
echo "pelloran-mask: $pm (built $(date -r "$pm" '+%F %T'))"
echo "ImageMagick:   $("$im_convert" -version | sed -n 1p)"
echo "cores: $(nproc); MAGICK_THREAD_LIMIT ${MAGICK_THREAD_LIMIT:-unset (ImageMagick default)}"
echo "reps: $reps (convert per file: $per_file_reps); medians of wall-clock seconds"
echo "contenders alternate within each repetition, starting one later each time;"
echo "sync before each timed run, outside the timing"

echo "outputs are emptied between runs, not deleted, and removed at the end"
echo

summary=()
for name in $sets; do
    set=$sets_dir/$name
    [ -d "$set" ] || die "$set missing; run bench/make-sprite-sets.sh $sets_dir"
    # Masks left over from elsewhere would be masked again and then deleted as ours.
    leftovers=$(masks_in "$set" | wc -l)
    [ "$leftovers" -eq 0 ] || die "$set already holds $leftovers *_mask files; remove them first"
    n=$(find "$set" -maxdepth 1 -type f -name '*.bmp' | wc -l)
    total=$(find "$set" -maxdepth 1 -type f | wc -l)
    [ "$n" -eq "$total" ] || die "$set holds files other than .bmp sprites"

    echo "== $name: $n sprites, $(du -sh "$set" | cut -f1)"
    cp -r "$set" "$scratch/mogrify-src"
    verify_same "$set"

    contenders=(copy pm1 pm2 convert mogrify)
    declare -A times=([copy]="" [pm1]="" [pm2]="" [convert]="" [mogrify]="")
    declare -A runs=([copy]=0 [pm1]=0 [pm2]=0 [convert]=0 [mogrify]=0)
    # The page cache would favour whoever reads the set first; one untimed pass evens that out.
    cat "$set"/* >/dev/null
    for ((r = 0; r < reps; r++)); do
        for ((k = 0; k < ${#contenders[@]}; k++)); do
            c=${contenders[(r + k) % ${#contenders[@]}]}
            case $c in
                copy)    s=$(run_copy "$set") ;;
                pm1)     s=$(run_pm "$set" 1 "$n") ;;
                pm2)     s=$(run_pm "$set" 2 "$n") ;;
                convert) [ "${runs[convert]}" -lt "$per_file_reps" ] || continue
                         s=$(run_convert "$set") ;;
                mogrify) s=$(run_mogrify "$scratch/mogrify-src") ;;
            esac
            times[$c]+=" $s"
            runs[$c]=$((runs[$c] + 1))
        done
    done
    retire "$scratch/mogrify-src"

    declare -A med
    for c in "${contenders[@]}"; do med[$c]=$(echo "${times[$c]}" | median); done
    best_im=$(awk -v a="${med[convert]}" -v b="${med[mogrify]}" 'BEGIN { print (a < b) ? a : b }')
    best_im_name=$(awk -v a="${med[convert]}" -v b="${med[mogrify]}" 'BEGIN { print (a < b) ? "convert" : "mogrify" }')

    printf '  %-34s %9s %5s   %s\n' contender "median s" reps "all runs (s)"
    printf '  %-34s %9s %5s   %s\n' "cp -r (floor)"                 "${med[copy]}"    "${runs[copy]}"    "${times[copy]# }"
    printf '  %-34s %9s %5s   %s\n' "pelloran-mask -j 1"            "${med[pm1]}"     "${runs[pm1]}"     "${times[pm1]# }"
    printf '  %-34s %9s %5s   %s\n' "pelloran-mask -j 2"            "${med[pm2]}"     "${runs[pm2]}"     "${times[pm2]# }"
    printf '  %-34s %9s %5s   %s\n' "ImageMagick convert, per file" "${med[convert]}" "${runs[convert]}" "${times[convert]# }"
    printf '  %-34s %9s %5s   %s\n' "ImageMagick mogrify, whole set" "${med[mogrify]}" "${runs[mogrify]}" "${times[mogrify]# }"
    r_j1_copy=$(ratio "${med[pm1]}" "${med[copy]}")
    r_j2_copy=$(ratio "${med[pm2]}" "${med[copy]}")
    r_im_j1=$(ratio "$best_im" "${med[pm1]}")
    r_j1_j2=$(ratio "${med[pm1]}" "${med[pm2]}")
    echo "  ratios: pm-j1/copy $r_j1_copy   pm-j2/copy $r_j2_copy   best-IM($best_im_name)/pm-j1 $r_im_j1   pm-j1/pm-j2 $r_j1_j2"
    echo
    summary+=("$(printf '%-11s %8s %8s %8s %8s %8s   %6s %6s %8s %6s' "$name" \
        "${med[copy]}" "${med[pm1]}" "${med[pm2]}" "${med[convert]}" "${med[mogrify]}" \
        "$r_j1_copy" "$r_j2_copy" "$r_im_j1" "$r_j1_j2")")
    unset times runs med
done

echo "== summary (median seconds; ratios)"
printf '%-11s %8s %8s %8s %8s %8s   %6s %6s %8s %6s\n' set copy pm-j1 pm-j2 convert mogrify \
    j1/copy j2/copy bestIM/j1 j1/j2
printf '%s\n' "${summary[@]}"
