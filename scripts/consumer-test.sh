#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it as a project outside this
# repository would: the installed paktool makes a pack, examples/consumer is
# configured with find_package(Patchloom) against the prefix, built, and run
# on that pack; its output must agree with what paktool lists and extracts.
# A Windows build (cmake/mingw-w64-x86_64.cmake) is checked the same way, the
# consumer cross-built and both programs run under Wine.
# Usage: scripts/consumer-test.sh BUILD_DIR     (an already built build directory)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$(cd "${1:?build directory}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "consumer-test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Every header the installed headers include is installed too, except the
# other platform's side of platform/win32.h.
if [ -f "$prefix/bin/paktool.exe" ]; then other=platform/posix/; else other=platform/windows/; fi
while IFS= read -r header; do
  for included in $(sed -n 's/^#include "\(.*\)"$/\1/p' "$header"); do
    case $included in "$other"*) continue ;; esac
    [ -f "$prefix/include/patchloom/$included" ] || fail "${header#$prefix/} includes $included, which is not installed"
  done
done < <(find "$prefix/include/patchloom" -name '*.h')

configure=(cmake -S examples/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_PREFIX_PATH="$prefix" "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror")
if [ -f "$prefix/bin/paktool.exe" ]; then
  # The consumer's toolchain: the project's, plus where the Windows builds of
  # liblzma, LZO and zstd lie (the build directory's, see cmake/MingwDeps.cmake).
  deps=$(sed -n 's/^PATCHLOOM_MINGW_DEPS_DIR:PATH=//p' "$build/CMakeCache.txt")/prefix
  cat >"$work/toolchain.cmake" <<TOOLCHAIN
include("$repo/cmake/mingw-w64-x86_64.cmake")
list(APPEND CMAKE_FIND_ROOT_PATH "$deps")
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} "$deps/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
TOOLCHAIN
  configure+=(--toolchain "$work/toolchain.cmake")
  wine=("$repo/scripts/wine-run.sh" "$build/wineprefix")
  paktool=("${wine[@]}" "$prefix/bin/paktool.exe")
  consumer=("${wine[@]}" "$work/consumer/consumer.exe")
else
  paktool=("$prefix/bin/paktool")
  consumer=("$work/consumer/consumer")
fi
# Windows programs end their lines with \r\n.
run() { (cd "$work" && "$@" </dev/null | tr -d '\r'); }

version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$prefix/lib/cmake/Patchloom/PatchloomConfigVersion.cmake")
[ "$(run "${paktool[@]}" --version)" = "paktool $version" ] || fail "paktool --version is not paktool $version"

mkdir -p "$work/src/res/ui/img" "$work/src/res/maps"
printf 'title of the pack\nsecond line\n' >"$work/src/res/ui/title.txt"
head -c 5000 /dev/zero | tr '\0' 'p' >"$work/src/res/ui/img/a.png"
printf 'map\n' >"$work/src/res/maps/town.map"
run "${paktool[@]}" build src/res --compress -o res.pak >/dev/null

"${configure[@]}" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the consumer does not configure"; }
cmake --build "$work/consumer" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the consumer does not build"; }

# What the consumer must print, from paktool: the directory's records as
# 'list' shows them, the entry's bytes as 'cat' writes them.
expected=$(
  echo "library $version"
  echo "res.pak: root res"
  run "${paktool[@]}" list res.pak ui |
    awk '{ kind = sub(/\/$/, "") ? "dir " : "file"; gsub(/\//, "\\"); print kind "  " $0 }'
  echo "x/ui/title.txt: $(wc -c <"$work/src/res/ui/title.txt") bytes"
  run "${paktool[@]}" cat res.pak ui/title.txt
)
actual=$(run "${consumer[@]}" res.pak ui x/ui/title.txt)
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "the consumer's output differs from paktool's"
fi
echo "consumer-test: the consumer built and ran against $(basename "$build")'s install"
