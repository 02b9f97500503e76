#!/usr/bin/env bash
# Installs what is missing, builds with every warning an error (KX_WERROR), and
# runs every test (windows on the offscreen platform). Then the sanitizer job: a second tree, build-asan/, built with
# AddressSanitizer and UndefinedBehaviorSanitizer, runs the unit and window
# tests (not the real-time end-to-end runs) and halts on the first finding;
# last, each fuzz target runs for a few seconds (scripts/fuzz-long.sh).
#   KX_SANITIZER_JOB=0  skip the sanitizer job and the fuzz run (a quick local run)
#   KX_FUZZ_SECONDS=N   seconds per fuzz target (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh -DKX_WERROR=ON
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 300)

[ "${KX_SANITIZER_JOB:-1}" = 0 ] && exit 0

echo "== sanitizer build (build-asan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF >/dev/null
# Only what the job runs: each test folder's GoogleTest program and Qt Test
# programs (end-to-end and interop ones left out), and the fuzz seed replays.
targets="fuzz_all"
for dir in tests/*/; do
  name=$(basename "$dir")
  case "$name" in e2e|interop|smoke|support) continue ;; esac
  [ -n "$(find "$dir" -name '*_test.cpp' -print -quit)" ] && targets="$targets ${name}_tests"
  for src in "$dir"tst_*.cpp; do
    [ -e "$src" ] || continue
    case "$src" in *e2e*) continue ;; esac
    targets="$targets $(basename "$src" .cpp)"
  done
done
cmake --build build-asan -j"$(nproc)" --target $targets
# Any finding ends the program with an error (UBSan is built not to recover).
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Unit, window and fuzz seed tests; the end-to-end runs against kxsim, the X
# smoke run and the peers of the interoperability tests are real-time and stay
# in the first run
# (the programs not built show as *_NOT_BUILT and are left out too).
(cd build-asan && ctest --output-on-failure -j"$(nproc)" --timeout 600 -LE '^(e2e|interop|smoke)$' \
                         -E '_NOT_BUILT$|e2e|^Kxctl\.')

echo "== fuzz targets, ${KX_FUZZ_SECONDS:-5} s each"
bash scripts/fuzz-long.sh "${KX_FUZZ_SECONDS:-5}"
