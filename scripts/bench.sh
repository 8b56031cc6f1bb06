#!/usr/bin/env bash
# Runs the benchmarks: installs what they need, builds paktool and the
# benchmark driver (RelWithDebInfo), generates the data below the build
# directory (with the packs made from it about 5 GiB, kept for the next run)
# and prints one table.
# Exits with 1 when a target was missed.
# Usage: scripts/bench.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

dir=${1:-build/bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATCHLOOM_BENCH=ON -DPATCHLOOM_TESTS=OFF \
  -DPATCHLOOM_WERROR=ON
cmake --build "$dir" -j "$(nproc)" --target patchloom_bench paktool Patchloom
echo "paktool built from $(git describe --always --dirty 2>/dev/null || echo 'an unknown revision')"
# A second build of the programs, at another optimisation level: the delta
# benchmark's real rebuild.
cmake -S . -B "$dir-O3" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O3 -g -DNDEBUG" \
  -DPATCHLOOM_TESTS=OFF -DPATCHLOOM_WERROR=ON >/dev/null
cmake --build "$dir-O3" -j "$(nproc)" --target paktool Patchloom >/dev/null
"$dir/bench/patchloom_bench" --work "$dir/work" --paktool "$dir/tools/paktool/paktool" --other-build "$dir-O3"
