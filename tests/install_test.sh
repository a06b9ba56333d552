#!/usr/bin/env bash
# Installs the build as a distribution package would (into a scratch prefix, and staged
# with DESTDIR), checks the desktop files, the manifest, and starts what was installed;
# then builds the Debian package and checks it holds what the manifest lists.
set -euo pipefail
build=$1
scratch=$(cd "$(mktemp -d)" && pwd -P)
trap 'rm -rf "$scratch"' EXIT
id=io.github.pelloran.Pelloran

fail() { echo "install test: $*" >&2; exit 1; }

# The manifest just written lists every file installed under prefix $2, no more; it names
# them as the package will have them, without the DESTDIR $1.
check_manifest() {
  local destdir=$1 prefix=$2 manifest="$build/install_manifest.txt"
  [[ -s "$manifest" ]] || fail "no install_manifest.txt"
  diff <(find "$destdir$prefix" \( -type f -o -type l \) | sed "s|^$destdir||" | sort) \
       <(sort "$manifest") \
    || fail "install_manifest.txt and the installed files differ (< only installed, > only listed)"
}

# What the window finds when installed under $1; its log goes to the user's data folder,
# as an installation has no writable data folder of its own.
check_program() {
  local prefix=$1 report
  report=$(PELLORAN_REPORT_AND_QUIT=1 XDG_DATA_HOME="$scratch/userdata" "$prefix/bin/pelloran")
  grep -qx "title: Pelloran" <<<"$report" || fail "unexpected window: $report"
  grep -qx "sound: $prefix/share/pelloran/snd/cheer.wav (found)" <<<"$report" || fail "$report"
  grep -qx "help: $prefix/share/pelloran/readme.txt (found)" <<<"$report" || fail "$report"
  grep -qx "log: $scratch/userdata/Pelloran/data/" <<<"$report" || fail "$report"
}

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" > /dev/null
for f in bin/pelloran bin/pelloran-mask share/pelloran/snd/cheer.wav share/pelloran/readme.txt \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/doc/pelloran/LICENSE share/doc/pelloran/CHANGELOG share/man/man1/pelloran-mask.1.gz \
         share/man/man1/pelloran.1.gz share/doc/pelloran/copyright share/doc/pelloran/changelog.gz \
         share/bash-completion/completions/pelloran-mask share/zsh/site-functions/_pelloran-mask; do
  [[ -e "$prefix/$f" ]] || fail "$f is missing"
done
for size in 16 22 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  [[ $(identify -format '%wx%h' "$icon") == "${size}x${size}" ]] || fail "$icon is not ${size}x${size}"
done
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
grep -qx "Exec=pelloran %F" "$prefix/share/applications/$id.desktop" || fail "desktop Exec"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" > /dev/null \
  || fail "metainfo: $(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml")"
check_manifest "" "$prefix"
check_program "$prefix"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $("$prefix/bin/pelloran-mask" --version) == "pelloran-mask $version" ]] || fail "pelloran-mask --version"
# The window's program answers these on a terminal with no display at all.
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/pelloran" --version) == "pelloran $version" ]] ||
  fail "pelloran --version without a display"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/pelloran" --help | grep -q "^Usage: pelloran \[--\] \[FILE...\]" ||
  fail "pelloran --help without a display"

# The manual pages show, and the completions load in both shells.
for page in pelloran pelloran-mask; do
  MANWIDTH=80 man -l "$prefix/share/man/man1/$page.1.gz" 2>&1 | grep -q "^NAME" \
    || fail "man -l shows no page $page"
  problems=$(man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 > /dev/null)
  [[ -z $problems ]] || fail "the manual page $page has faults: $problems"
done
bash -c 'source "$1" && complete -p pelloran-mask && COMP_WORDS=(pelloran-mask --form) COMP_CWORD=1 &&
         _pelloran_mask && [[ ${COMPREPLY[*]} == --format ]]' _ \
  "$prefix/share/bash-completion/completions/pelloran-mask" > /dev/null || fail "bash completion"
zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit && compinit -u -D && autoload +X _pelloran-mask &&
           [[ $_comps[pelloran-mask] == _pelloran-mask ]]' _ "$prefix/share/zsh/site-functions" \
  || fail "zsh completion"

# The Debian package holds exactly what the installation listed, under /usr, and cpack leaves
# that list alone (it is how such an installation is removed); the package's libraries come
# from dpkg-shlibdeps, what Qt opens at run time is asked for by hand, and lintian finds no
# error in it.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" > "$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
deb=$scratch/deb/pelloran_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "cpack made no $(basename "$deb"): $(ls "$scratch/deb")"
check_manifest "" "$prefix"
diff <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||' | sort) \
     <(sed "s|^$prefix/|/usr/|" "$build/install_manifest.txt" | sort) ||
  fail "the package and the manifest differ (< only packaged, > only listed)"
[[ $(dpkg-deb -f "$deb" Package Version Section) == $'Package: pelloran\nVersion: '"$version"$'\nSection: graphics' ]] ||
  fail "package control: $(dpkg-deb -f "$deb")"
relations=$(dpkg-deb -f "$deb" Depends Recommends)
for pkg in libqt6widgets6 libqt6multimedia6 qt6-wayland; do
  [[ $relations == *"$pkg"* ]] || fail "the package does not ask for $pkg: $relations"
done
lintian --fail-on error "$deb" > "$scratch/lintian" 2>&1 || fail "lintian: $(cat "$scratch/lintian")"

# A package build stages the installation under DESTDIR; the staged program runs there.
DESTDIR=$scratch/stage cmake --install "$build" --prefix /usr > /dev/null
[[ -e "$scratch/stage/usr/share/applications/$id.desktop" ]] || fail "DESTDIR: no desktop entry"
check_manifest "$scratch/stage" /usr
check_program "$scratch/stage/usr"
echo "install test: passed"
