#!/usr/bin/env bash
# Builds everything and runs the whole test suite three times: an optimised
# build, an AddressSanitizer + UndefinedBehaviorSanitizer build, and the
# Windows build (mingw-w64) under Wine. Each suite replays every fuzz
# target's seeds and kept cases; after the sanitizer suite every fuzz target
# runs for half a minute (scripts/fuzz.sh, its clang build included). After
# the first suite, the README's main job (scripts/demo.sh) runs from a copy
# of the checkout in an unusual path; before the Windows suite, so does the
# Windows configure, which cross-builds liblzma, LZO and zstd. The optimised and
# the Windows build are each installed into a prefix that examples/consumer
# is built against (scripts/consumer-test.sh), and the optimised one is made
# into a Debian package (scripts/deb-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DPATCHLOOM_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs" ${SKIP_TESTS:+-E "$SKIP_TESTS"} </dev/null
}

echo "== optimised build =="
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The README's main job, from a copy of the checkout whose path holds the
# root name "res" inside a longer name, a space and Chinese characters.
run_demo_elsewhere() {
  local base copy
  base=$(mktemp -d)
  copy="$base/fresh res 目录/patchloom"
  mkdir -p "$copy"
  tar -C . --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
  (cd "$copy" && scripts/demo.sh </dev/null) | tee "$base/demo.log"
  local last
  last=$(tail -n 1 "$base/demo.log")
  rm -rf "$base"
  [ "$last" = "  identical" ] || { echo "the demo did not end with \"identical\""; return 1; }
}

echo "== the install: a consumer project, the Debian package =="
scripts/consumer-test.sh build/release
scripts/deb-test.sh build/release
echo "== the demo, from a path holding the root name =="
run_demo_elsewhere
echo "== sanitizer build =="
# The two tests that compare builds and merges on one and on every worker
# over large data run in the other two suites: here they would cost a
# minute of the run.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  SKIP_TESTS='^(pack_build_parallel_test|pack_merge_workers_test)$' \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DPATCHLOOM_SANITIZE=ON

echo "== fuzzing, half a minute per target =="
scripts/fuzz.sh 30 build/fuzz

# The Windows suite: ctest runs each test executable through
# scripts/wine-run.sh. Wine's server and services are started first (while
# the build runs) with their output on /dev/null, since ctest would wait for
# any process still holding a test's output pipe, and stopped afterwards.
run_windows_suite() {
  local dir=$1
  local prefix=$dir/wineprefix
  mkdir -p "$dir"
  scripts/wine-run.sh "$prefix" --start &
  local starter=$!
  trap "scripts/wine-run.sh '$prefix' --stop" EXIT
  # The toolchain puts the Wine prefix at <build>/wineprefix.
  cmake -S . -B "$dir" --toolchain cmake/mingw-w64-x86_64.cmake -DPATCHLOOM_WERROR=ON
  cmake --build "$dir" -j "$jobs"
  wait "$starter"
  ctest --test-dir "$dir" --output-on-failure --timeout 300 -j "$jobs" </dev/null
  scripts/consumer-test.sh "$dir"
}

# The Windows configure, from a copy of the checkout whose path holds the
# root name "res" inside a longer name, a space and Chinese characters:
# scripts/build-mingw-deps.sh, pkg-config and CMake's search meet that path.
# The copy starts from the libraries DIR has cached, so this costs seconds;
# without them (a fresh checkout) it cross-builds them, and DIR takes them
# as its cache. Fails unless the copy's build found their headers and
# libraries in its own prefix.
configure_windows_elsewhere() {
  local dir=$1 base copy
  base=$(mktemp -d)
  copy="$base/windows res 目录/patchloom"
  mkdir -p "$copy/$dir/mingw-deps" "$dir/mingw-deps"
  tar -C . --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
  [ ! -d "$dir/mingw-deps/prefix" ] || cp -R "$dir/mingw-deps/prefix" "$copy/$dir/mingw-deps/"
  if ! (cd "$copy" && cmake -S . -B "$dir" --toolchain cmake/mingw-w64-x86_64.cmake -DPATCHLOOM_WERROR=ON \
      >"$base/configure.log" 2>&1); then
    cat "$base/configure.log"
    rm -rf "$base"
    echo "the Windows configure failed from $copy"
    return 1
  fi
  local variable found
  for variable in LIBLZMA_INCLUDE_DIR LIBLZMA_LIBRARY_RELEASE LZO2_INCLUDE_DIRS pkgcfg_lib_LZO2_lzo2 \
      ZSTD_INCLUDE_DIRS pkgcfg_lib_ZSTD_zstd; do
    found=$(sed -n "s/^$variable:[A-Z]*=//p" "$copy/$dir/CMakeCache.txt")
    if [[ $found != "$copy/$dir/mingw-deps/prefix/"* ]]; then
      rm -rf "$base"
      echo "the Windows configure from $copy found $variable at \"$found\", not in its own prefix"
      return 1
    fi
  done
  mkdir -p "$dir/mingw-deps/prefix" && cp -R "$copy/$dir/mingw-deps/prefix/." "$dir/mingw-deps/prefix/"
  rm -rf "$base"
  echo "the Windows configure passed from $copy"
}

echo "== Windows build under Wine =="
scripts/install-deps.sh "${WINE_PACKAGES[@]}"
scripts/enable-deb-src.sh
echo "== the Windows configure, from a path holding a space =="
configure_windows_elsewhere build/windows
echo "== the Windows suite =="
run_windows_suite build/windows
echo "== all tests passed =="
