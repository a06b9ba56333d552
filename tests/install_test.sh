#!/usr/bin/env bash
# Installs a release build as a distribution package would (into a scratch prefix, and staged
# with DESTDIR), checks the desktop files, the manifest, what starts, and that an uninstall
# leaves nothing behind; then builds the Debian package, checks it holds what the manifest
# lists, is hardened as Debian's own packages are, and that zsh and the desktop find what it
# installs where they look by default.
#
#   install_test.sh BUILD   (a sanitized BUILD makes a release tree of its own inside it)
set -euo pipefail
build=$1
scratch=$(cd "$(mktemp -d)" && pwd -P)
xvfb=
trap '[[ -z $xvfb ]] || kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
id=io.github.pelloran.Pelloran
export XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 0700 "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"

fail() { echo "install test: $*" >&2; exit 1; }
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# A package is made from a release build, never from a sanitized one: the sanitizers' runtime
# would ship, and _FORTIFY_SOURCE is left out under them.
if [[ $(cached PELLORAN_SANITIZE) == ON ]]; then
  release=$build/install-test-release
  { cmake -S "$(cached CMAKE_HOME_DIRECTORY)" -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPELLORAN_SANITIZE=OFF -DBUILD_TESTING=OFF -DPELLORAN_BENCH=OFF &&
    cmake --build "$release" -j 2; } > "$scratch/build.log" 2>&1 ||
    fail "the release build failed: $(tail -n 40 "$scratch/build.log")"
  build=$release
fi
version=$(cached CMAKE_PROJECT_VERSION)
homepage=$(cached CMAKE_PROJECT_HOMEPAGE_URL)

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
  report=$(PELLORAN_REPORT_AND_QUIT=1 QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$scratch/userdata" \
           "$prefix/bin/pelloran")
  grep -qx "title: Pelloran" <<<"$report" || fail "unexpected window: $report"
  grep -qx "sound: $prefix/share/pelloran/snd/cheer.wav (found)" <<<"$report" || fail "$report"
  grep -qx "help: $prefix/share/pelloran/readme.txt (found)" <<<"$report" || fail "$report"
  grep -qx "log: $scratch/userdata/Pelloran/data/" <<<"$report" || fail "$report"
}

# Nothing is left under $1 but the folders listed after it, which were there before.
check_removed() {
  local root=$1 left
  shift
  left=$(find "$root" -mindepth 1 | sort)
  [[ $left == "$(printf '%s\n' "$@" | sort)" ]] || fail "left after the uninstall: $left"
}

# The folder zsh finds _pelloran-mask in, when everything under $1 is laid over the system:
# zsh's own search path, with no folder of the test's, each folder of it looked for under $1.
zsh_finds() {
  zsh -f -c 'fpath=("$1"${^fpath} $fpath); autoload -Uz compinit && compinit -u -D &&
             [[ $_comps[pelloran-mask] == _pelloran-mask ]] && autoload +X _pelloran-mask &&
             print -r -- ${functions_source[_pelloran-mask]:h}' _ "$1"
}

# --- Into a prefix of its own, as `cmake --install build --prefix ~/.local` does. Two folders
# are there before (as /usr/local has them, empty) and must stay after the uninstall.
prefix=$scratch/prefix
mkdir -p "$prefix/bin" "$prefix/share/man"
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
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop entry"
grep -qx "Exec=pelloran %F" "$desktop" || fail "desktop Exec"
# The network is not asked whether the home page answers; that it is the project's is checked.
appstreamcli validate --no-net "$metainfo" > /dev/null \
  || fail "metainfo: $(appstreamcli validate --no-net "$metainfo")"
grep -qF "<url type=\"homepage\">$homepage</url>" "$metainfo" || fail "metainfo's home page is not $homepage"
grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"
[[ $homepage == https://* && $homepage != *example* ]] || fail "the home page $homepage is a placeholder"
grep -q "example" "$prefix/share/doc/pelloran/copyright" "$prefix/share/pelloran/readme.txt" &&
  fail "a placeholder address was installed"
check_manifest "" "$prefix"
check_program "$prefix"
[[ $("$prefix/bin/pelloran-mask" --version) == "pelloran-mask $version" ]] || fail "pelloran-mask --version"
# The window's program answers these on a terminal with no display at all, and says in one
# line that it needs one for anything else (Qt alone would abort and advise reinstalling).
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[[ $("${nodisplay[@]}" "$prefix/bin/pelloran" --version) == "pelloran $version" ]] ||
  fail "pelloran --version without a display"
"${nodisplay[@]}" "$prefix/bin/pelloran" --help | grep -q "^Usage: pelloran \[--\] \[FILE...\]" ||
  fail "pelloran --help without a display"
for display in "" ":987"; do
  status=0
  err=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$prefix/bin/pelloran" a.bmp 2>&1 >/dev/null) ||
    status=$?
  [[ $status == 2 && $err == "pelloran: no graphical display to open the window on"* &&
     $(wc -l <<<"$err") == 1 ]] || fail "pelloran with DISPLAY='$display' ended with $status: $err"
done

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

# Removed as the README says: the listed files, then the folders the installation made.
[[ -f $build/install_folders.txt ]] || fail "no install_folders.txt"
xargs -d '\n' rm -f -- < "$build/install_manifest.txt"
xargs -d '\n' rmdir --ignore-fail-on-non-empty -- < "$build/install_folders.txt"
check_removed "$scratch/prefix" "$prefix/bin" "$prefix/share" "$prefix/share/man"

# --- Under /usr/local, where an administrator installs: zsh finds the completion there.
DESTDIR=$scratch/local cmake --install "$build" --prefix /usr/local > /dev/null
[[ $(zsh_finds "$scratch/local") == "$scratch/local/usr/local/share/zsh/site-functions" ]] ||
  fail "zsh does not find the completion under /usr/local"
DESTDIR=$scratch/local cmake --build "$build" --target uninstall > /dev/null
check_removed "$scratch/local" "$scratch/local/usr" # /usr was the system's, not the install's

# --- The Debian package holds exactly what an installation under /usr lists, and cpack
# leaves that list alone (it is how such an installation is removed); the package's
# libraries come from dpkg-shlibdeps, what Qt opens at run time is asked for by hand.
stage=$scratch/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr > /dev/null
[[ -e "$stage/usr/share/applications/$id.desktop" ]] || fail "DESTDIR: no desktop entry"
check_manifest "$stage" /usr
check_program "$stage/usr"
cp "$build/install_manifest.txt" "$scratch/usr-manifest"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" > "$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
deb=$scratch/deb/pelloran_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "cpack made no $(basename "$deb"): $(ls "$scratch/deb")"
cmp -s "$build/install_manifest.txt" "$scratch/usr-manifest" || fail "cpack changed install_manifest.txt"
diff <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||' | sort) \
     <(sort "$scratch/usr-manifest") ||
  fail "the package and the manifest differ (< only packaged, > only listed)"
DESTDIR=$stage cmake --build "$build" --target uninstall > /dev/null
check_removed "$stage"
[[ $(dpkg-deb -f "$deb" Package Version Section Homepage) == \
   $'Package: pelloran\nVersion: '"$version"$'\nSection: graphics\nHomepage: '"$homepage" ]] ||
  fail "package control: $(dpkg-deb -f "$deb")"
[[ $(dpkg-deb -f "$deb" Maintainer) != *example* ]] || fail "placeholder maintainer: $(dpkg-deb -f "$deb" Maintainer)"
relations=$(dpkg-deb -f "$deb" Depends Recommends)
for pkg in libqt6widgets6 libqt6multimedia6 qt6-wayland; do
  [[ $relations == *"$pkg"* ]] || fail "the package does not ask for $pkg: $relations"
done
# lintian finds no error, and nothing about hardening.
lintian --fail-on error "$deb" > "$scratch/lintian" 2>&1 || fail "lintian: $(cat "$scratch/lintian")"
! grep -q "hardening-" "$scratch/lintian" || fail "lintian: $(cat "$scratch/lintian")"

# The programs as packaged carry Debian's hardening: position-independent, read-only
# relocations bound at start, a stack protector and the fortified C library calls.
root=$scratch/root
dpkg-deb -x "$deb" "$root"
for bin in "$root/usr/bin/pelloran" "$root/usr/bin/pelloran-mask"; do
  readelf -hW "$bin" | grep -Eq 'Type: +DYN' || fail "$bin is not position-independent"
  readelf -lW "$bin" | grep -q 'GNU_RELRO' || fail "$bin has no RELRO segment"
  readelf -dW "$bin" | grep -Eq '\(FLAGS_1\) +Flags:.* NOW' || fail "$bin is not bound at start"
  symbols=$(readelf --dyn-syms -W "$bin")
  grep -q ' __stack_chk_fail' <<<"$symbols" || fail "$bin has no stack protector"
  grep -Eq ' __[a-z]+_chk' <<<"$symbols" || fail "$bin calls no fortified function"
done

# A fresh zsh, with compinit and nothing else, completes pelloran-mask's options from where
# the package put the completion.
[[ $(zsh_finds "$root") == "$root/usr/share/zsh/vendor-completions" ]] ||
  fail "zsh does not find the package's completion: $(zsh_finds "$root" 2>&1)"
cat > "$scratch/zshrc" <<EOF
PS1='> '
fpath=("$root"\${^fpath} \$fpath)
autoload -Uz compinit && compinit -u -D
EOF
# Typed at a terminal once the prompt is up (typed earlier, zsh drops it): "pelloran-mask
# --form" and Tab becomes "--format" (its "=" comes highlighted).
completed=$(timeout 300 zsh -f -c 'zmodload zsh/zpty && zpty z zsh -f -i &&
  zpty -w z "source ${(q)1}" && zpty -r z line "*> *" &&
  zpty -w -n z $'"'"'pelloran-mask --form\t'"'"' && zpty -r z line "*--format*"' _ "$scratch/zshrc" 2>&1) ||
  fail "zsh did not complete --form: $completed"

# The desktop ties the window to its entry by its X class: the installed program's window on
# an X server of its own has the class the installed entry names.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$scratch/display" 2> "$scratch/xvfb.log" &
xvfb=$!
until grep -q '^[0-9]' "$scratch/display"; do
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
  sleep 0.1
done
export DISPLAY=:$(head -n1 "$scratch/display")
XDG_DATA_HOME=$scratch/userdata QT_QPA_PLATFORM=xcb "$root/usr/bin/pelloran" 2> "$scratch/window.log" &
window=$!
until wid=$(xdotool search --onlyvisible --pid "$window" 2>/dev/null | head -n1) && [[ -n $wid ]]; do
  kill -0 "$window" 2>/dev/null || fail "pelloran ended on the X server: $(cat "$scratch/window.log")"
  sleep 0.2
done
wmclass=$(xprop -id "$wid" WM_CLASS)
kill "$window"
wait "$window" || true
class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/$id.desktop")
[[ -n $class && $wmclass == *", \"$class\"" ]] ||
  fail "the window's $wmclass does not match the entry's StartupWMClass=$class"
echo "install test: passed (package $(basename "$deb"); lintian: $(grep -c . "$scratch/lintian") tags)"
