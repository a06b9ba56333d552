#!/usr/bin/env bash
# Builds the sanitized test tree (benchmarks included so they keep compiling)
# and runs the tests headless, away from the user's own settings.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd -P)

# shellcheck source=scripts/deps.sh
source scripts/deps.sh
pelloran_deps || exit $?

# Sources are formatted as .clang-format says before anything is built: a change that
# is not fails here, with the files named.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  unformatted=$(git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run 2>&1 |
                sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning:.*/\1/p' | sort -u)
  if [[ -n "$unformatted" ]]; then
    echo "These files are not formatted (run: clang-format -i FILE):" >&2
    echo "$unformatted" >&2
    exit 1
  fi
fi

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELLORAN_SANITIZE=ON -DPELLORAN_BENCH=ON
cmake --build build/test

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=scripts/headless-env.sh
source scripts/headless-env.sh
pelloran_headless_env "$scratch"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$repo/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# A tree that registers no test at all is a broken build, not a pass.
status=0
ctest --test-dir build/test --output-on-failure --no-tests=error -j2 || status=$?

# The command line's threads (batch runner, watch, interruption) under the thread sanitizer,
# in a tree of their own: pelloran-mask and the engine-only tests that run it with several
# files and threads, not the window, so that it costs CI a few minutes (tst_cli_outputs masks
# one file at a time, and reads a gigabyte of standard input). A race ends the process with
# 66, which fails its test.
tsan_tests=(tst_filejob tst_cli_options tst_cli_names tst_cli_interrupt tst_cli_watch)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORAN_TSAN=ON
cmake --build build/tsan --target pelloran-mask "${tsan_tests[@]}"
TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$repo/tests/tsan.supp" \
  ctest --test-dir build/tsan --output-on-failure --no-tests=error -j2 \
  -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$" || status=$?
exit "$status"
