#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs each one for a bounded time, starting from seed
# corpora that make_fuzz_seeds writes and the corpus earlier runs kept.
# The targets are those fuzz/CMakeLists.txt lists (PATCHLOOM_FUZZ_TARGETS),
# in its order. scripts/test.sh runs it for half a minute per target.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET [BUILD_DIR]]   (default 60, build/fuzz)
# A target that finds a problem stops and leaves the input as
# BUILD_DIR/fuzz/artifacts/<target>-crash-*; the script then fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"

seconds=${1:-60}
dir=$(mkdir -p "${2:-build/fuzz}" && cd "${2:-build/fuzz}" && pwd)
# Warnings are held to zero by the gcc builds; clang's own may differ.
CC=clang CXX=clang++ cmake -S . -B "$dir" -DPATCHLOOM_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPATCHLOOM_SANITIZE=ON -DPATCHLOOM_FUZZ=ON -DPATCHLOOM_TESTS=OFF
cmake --build "$dir" -j "$(nproc)" --target fuzz_all

fuzz=$dir/fuzz
rm -rf "$fuzz/seeds"
"$fuzz/make_fuzz_seeds" "$fuzz/seeds"
mkdir -p "$fuzz/artifacts"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
mapfile -t targets <"$fuzz/fuzz_targets"
[ ${#targets[@]} -gt 0 ] || { echo "fuzz.sh: no targets in $fuzz/fuzz_targets" >&2; exit 1; }
for target in "${targets[@]}"; do
  echo "== $target: $seconds s =="
  mkdir -p "$fuzz/corpus/$target"
  # Inputs up to 16 KiB: an Lzma86 stream of that length may decode to
  # 128 MiB, the most any entry of such an input can legitimately need.
  if ! "$fuzz/$target" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 -malloc_limit_mb=512 \
      -timeout=30 -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/$target-" \
      "$fuzz/corpus/$target" "$fuzz/seeds/$target" 2>"$fuzz/$target.log"; then
    tail -n 60 "$fuzz/$target.log"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$fuzz/$target.log" ||
    true
done
exit $status
