#!/usr/bin/env bash
# Installs the build into a scratch prefix and starts what was installed.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null

fail() { echo "install test: $*" >&2; exit 1; }
for f in bin/pelloran bin/pelloran-mask lib/pelloran/Pelloran lib/pelloran/snd/cheer.wav \
         lib/pelloran/readme.txt share/applications/pelloran.desktop \
         share/icons/hicolor/48x48/apps/pelloran.png; do
  [[ -e "$prefix/$f" ]] || fail "$f is missing"
done
grep -qx "Exec=$prefix/bin/pelloran" "$prefix/share/applications/pelloran.desktop" \
  || fail "the desktop entry does not start the installed launcher"

report=$(PELLORAN_REPORT_AND_QUIT=1 XDG_DATA_HOME="$prefix/userdata" "$prefix/bin/pelloran")
grep -qx "title: Pelloran" <<<"$report" || fail "unexpected window: $report"
grep -qx "sound: $prefix/lib/pelloran/snd/cheer.wav (found)" <<<"$report" || fail "$report"
grep -qx "help: $prefix/lib/pelloran/readme.txt (found)" <<<"$report" || fail "$report"
# Installed without a data folder of its own, the log goes to the user's data folder.
grep -qx "log: $prefix/userdata/Pelloran/data/" <<<"$report" || fail "$report"
[[ $("$prefix/bin/pelloran-mask" --version) == "Version: 1.21" ]] || fail "pelloran-mask --version"
echo "install test: passed"
