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
for a in "\$@"; do case \$a in -*|install) ;; *) echo "\$a" >> "$fake/asked" ;; esac; done
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
echo "deps: run asks for $(wc -w <<<"$run") packages, test for $(wc -w <<<"$all")"
