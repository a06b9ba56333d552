#!/usr/bin/env bash
# Builds a release Pelloran (the programs only: no tests, no benchmarks) and starts it;
# arguments go to the program.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

# shellcheck source=scripts/deps.sh
source scripts/deps.sh
pelloran_deps run || exit $?

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLORAN_SANITIZE=OFF \
  -DBUILD_TESTING=OFF -DPELLORAN_BENCH=OFF
cmake --build build/release

# Checked after building so the script still leaves a fresh binary behind on a
# headless machine.
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Pelloran needs a graphical display: no DISPLAY or WAYLAND_DISPLAY is set." >&2
  exit 2
fi

exec build/release/bin/pelloran "$@"
