#!/usr/bin/env bash
# scripts/run.sh asks for the packages that build and run the program and nothing more;
# scripts/test.sh for those and the test tools. Checked on a pretend machine where nothing
# is installed: dpkg-query finds nothing, and apt-get only writes down what it is asked for.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/dpkg-query" <<'STUB'
#!/bin/sh
exit 1
STUB
cat > "$fake/apt-get" <<STUB
#!/bin/sh
[ "\$1" = install ] || [ "\$2" = install ] || exit 0
skip=
for a in "\$@"; do
  if [ -n "\$skip" ]; then skip=; continue; fi
  case \$a in -o) skip=1 ;; -*|install) ;; *) echo "\$a" >> "$fake/asked" ;; esac
done
STUB
cat > "$fake/sudo" <<'STUB'
#!/bin/sh
[ "$1" = -n ] && shift
"$@"
STUB
chmod +x "$fake"/*
asked() {
  rm -f "$fake/asked"
  PATH="$fake:$PATH" bash -c 'source "$1/../scripts/deps.sh" && pelloran_deps "$2"' _ "$here" "$1" 2>/dev/null
  sort "$fake/asked" | tr '\n' ' '
}
run=$(asked run)
all=$(asked all)
for pkg in xvfb xdotool imagemagick clang-format libbenchmark-dev zsh lintian; do
  [[ " $run " != *" $pkg "* ]] || { echo "run.sh's list asks for the test tool $pkg: $run" >&2; exit 1; }
  [[ " $all " == *" $pkg "* ]] || { echo "test.sh's list lacks $pkg: $all" >&2; exit 1; }
done
for pkg in qt6-base-dev cmake libgif-dev libjpeg-dev fonts-liberation; do
  [[ " $run " == *" $pkg "* ]] || { echo "run.sh's list lacks $pkg: $run" >&2; exit 1; }
done
# The README's table of what the scripts need names the same packages: its first three rows
# what run.sh asks for, the others what test.sh adds.
table=$(sed -n '/^### What they need/,/^#/p' "$here/../README.md" | grep '^| ' | tail -n +2)
[[ -n $table ]] || { echo "README.md has no table under 'What they need'" >&2; exit 1; }
names() { grep -o '`[^`]*`' | tr -d '`' | sort | tr '\n' ' '; }
readme_run=$(head -n 3 <<<"$table" | names)
readme_test=$(tail -n +4 <<<"$table" | names)
test_only=$(comm -13 <(tr ' ' '\n' <<<"$run" | sort) <(tr ' ' '\n' <<<"$all" | sort) | grep . | tr '\n' ' ')
[[ $readme_run == "$run" ]] ||
  { echo "README's first three rows: $readme_run; scripts/deps.sh's run list: $run" >&2; exit 1; }
[[ $readme_test == "$test_only" ]] ||
  { echo "README's test rows: $readme_test; scripts/deps.sh's test list: $test_only" >&2; exit 1; }
echo "deps: run asks for $(wc -w <<<"$run") packages, test for $(wc -w <<<"$all")"
