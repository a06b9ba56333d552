#!/usr/bin/env bash
# Installs the Debian packages Pelloran needs to build and run, and to test it.
# Run it, or source it and call pelloran_deps. Silent when nothing is missing.
set -euo pipefail

# What building and running need: scripts/run.sh installs only these. libqt6gui6 carries
# the xcb and offscreen platform plugins (qt6-qpa-plugins only adds VNC); libqt6multimedia6
# carries both the GStreamer and FFmpeg backends that QSoundEffect loads at run time;
# qt6-wayland lets the program start on a Wayland-only session.
PELLORAN_RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6gui6 qt6-wayland
  qt6-multimedia-dev libqt6multimedia6
  libgl-dev libpng-dev libjpeg-dev libgif-dev fonts-liberation
)
# What the tests, the format check and the benchmarks need besides: scripts/test.sh adds
# these. desktop-file-utils and appstream check the installed desktop entry and metainfo;
# man-db, zsh and bash-completion check that pelloran-mask's manual page shows and its
# completions load; parallel runs the README's recipe for many machines; cpack's Debian
# package needs file (dpkg-shlibdeps comes with build-essential), and lintian checks it;
# x11-utils' xprop reads the installed window's class. tst_encoders makes its pictures with
# Pillow (and numpy), libjpeg-turbo's cjpeg and djpeg, and gifsicle, besides ImageMagick.
# The README's table lists the same packages (tests/deps_test.sh compares).
PELLORAN_TEST_PACKAGES=(
  libbenchmark-dev xvfb xauth xdotool x11-utils imagemagick sox
  desktop-file-utils appstream man-db zsh bash-completion parallel clang-format file lintian
  python3-pil python3-numpy libjpeg-turbo-progs gifsicle
)

# pelloran_deps [run|all]: the packages to run the program, or (the default) those to test it too.
pelloran_deps() {
  local -a wanted=("${PELLORAN_RUN_PACKAGES[@]}")
  [[ ${1:-all} == run ]] || wanted+=("${PELLORAN_TEST_PACKAGES[@]}")
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "Pelloran's scripts need a Debian-based system (dpkg-query not found)." >&2
    return 1
  fi

  local missing=() pkg
  for pkg in "${wanted[@]}"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)" != "install ok installed" ]]; then
      missing+=("$pkg")
    fi
  done
  ((${#missing[@]} == 0)) && return 0

  local -a asroot=()
  if ((EUID != 0)); then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      asroot=(sudo -n)
    else
      echo "Missing packages; run: sudo apt-get install -y ${missing[*]}" >&2
      return 1
    fi
  fi

  echo "Installing missing packages: ${missing[*]}" >&2
  # A fresh machine may still have unattended upgrades holding the dpkg lock.
  if ! "${asroot[@]}" apt-get -q -o DPkg::Lock::Timeout=300 update >&2 ||
     ! "${asroot[@]}" env DEBIAN_FRONTEND=noninteractive \
         apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 \
         "${missing[@]}" >&2; then
    echo "Could not install packages: ${missing[*]} (see apt-get output above)." >&2
    return 1
  fi
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  pelloran_deps "$@"
fi
