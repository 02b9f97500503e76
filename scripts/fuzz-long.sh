#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang) in build-fuzz/ and runs each one.
#   bash scripts/fuzz-long.sh [SECONDS per target, default 600] [TARGET ...]
# Without TARGETs every target runs, one after the other. Each reads the seeds
# in fuzz/corpus/<name>/ (never writes there) and keeps what it finds in
# build-fuzz/corpus/<name>/; a crash leaves its input in build-fuzz/crashes/<name>/
# and makes the script fail. The test command runs it with a few seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
command -v clang++ >/dev/null || { echo "fuzz-long.sh: clang++ is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DKX_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in build-fuzz/fuzz/*_fuzz; do
    name=$(basename "$exe"); targets+=("${name%_fuzz}")
  done
fi
failed=0
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/crashes/$t"
  echo "== fuzz $t: ${seconds}s"
  if ! "build-fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$t/" \
        "build-fuzz/corpus/$t" "fuzz/corpus/$t" > "build-fuzz/crashes/$t/log.txt" 2>&1; then
    echo "fuzz $t FAILED: see build-fuzz/crashes/$t/log.txt"; tail -40 "build-fuzz/crashes/$t/log.txt"
    failed=1
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build-fuzz/crashes/$t/log.txt" | tr '\n' ' '; echo
  fi
done
exit $failed
