#!/usr/bin/env bash
# The main job: builds the project and runs a sample update of a client pack.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATCHLOOM_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target paksmoke >/dev/null
demo_dir=$(mktemp -d)
trap 'rm -rf "$demo_dir"' EXIT
# The program takes Windows-style paths: /tmp/x is \tmp\x.
build/release/tools/paksmoke/paksmoke "$(echo "$demo_dir" | tr / '\\')"
