#!/usr/bin/env bash
# The README's recipe for a large asset tree spread over machines with GNU parallel, run
# with the local login ":" only: one job per top-level folder, failed ones retried, and a
# rerun that finds every mask made.
#
#   parallel_recipe_test.sh PELLORAN_MASK
set -euo pipefail
pm=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "parallel recipe: $*" >&2; exit 1; }
command -v parallel > /dev/null || fail "GNU parallel is not installed"
mkdir -p "$scratch/assets/heroes/walk" "$scratch/assets/tiles" "$scratch/assets/with blank"
bmp() { # a 2 x 1 24-bit BMP: one black pixel (background), one white
  printf 'BM\x3e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x08\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\xff\xff\0\0' > "$1"
}
bmp "$scratch/assets/heroes/walk/a.bmp"
bmp "$scratch/assets/tiles/b.bmp"
bmp "$scratch/assets/with blank/c.bmp"
cd "$scratch"
recipe() {
  find "$scratch/assets" -mindepth 1 -maxdepth 1 -type d -print0 |
    parallel -0 --sshlogin : --retries 3 --joblog masks.log \
      "$pm" -q -r -u -o "$scratch/masks/{/}" {}
}
recipe || fail "the first run failed"
for m in heroes/walk/a_mask.bmp tiles/b_mask.bmp "with blank/c_mask.bmp"; do
  [[ -s "$scratch/masks/$m" ]] || fail "no mask $m: $(find "$scratch/masks" | tr '\n' ' ')"
done
[[ $(awk 'NR > 1 && $7 != 0' masks.log | wc -l) == 0 ]] || fail "a job failed: $(cat masks.log)"
masks() { find "$scratch/masks" -type f -exec stat -c '%n %i %y' {} + | sort; }
before=$(masks)
recipe || fail "the rerun failed"
[[ $(masks) == "$before" ]] || fail "the rerun wrote masks again"
echo "parallel recipe: 3 folders masked through GNU parallel, and a rerun left them as they were"
