#!/usr/bin/env bash
# Cross-builds liblzma and LZO as static Windows libraries from Debian's
# source packages (apt-get source xz-utils lzo2) into WORK_DIR/prefix.
# Each library is built once: a stamp in the prefix makes later runs return
# at once, so keep WORK_DIR in the build directory.
# Usage: scripts/build-mingw-deps.sh WORK_DIR HOST_TRIPLET C_COMPILER
set -euo pipefail

work=${1:?work directory}
host=${2:?host triplet, e.g. x86_64-w64-mingw32}
cc=${3:?C compiler}
prefix=$work/prefix
jobs=$(nproc)
mkdir -p "$work/src" "$prefix"

# Unpacks the newest source of a Debian package below $work/src and prints
# the unpacked directory.
fetch_source() {
  local package=$1
  local dir=$work/src/$package
  rm -rf "$dir" && mkdir -p "$dir"
  if ! (cd "$dir" && apt-get source -q "$package" >fetch.log 2>&1); then
    cat "$dir/fetch.log" >&2
    echo "build-mingw-deps: 'apt-get source $package' failed; scripts/enable-deb-src.sh adds the" \
      "deb-src entries it needs (as root)" >&2
    return 1
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# Runs the autotools build of one package out of tree with the arguments in
# CONFIGURE_EXTRA, BUILD_ARGS (make, building the library) and INSTALL_ARGS
# (make, installing the library, its headers and pkg-config file).
build_package() {
  local package=$1
  local stamp=$prefix/.built-$package
  [ -f "$stamp" ] && return 0
  echo "build-mingw-deps: building $package for $host"
  local source_dir build_dir
  source_dir=$(fetch_source "$package")
  build_dir=$work/build/$package
  rm -rf "$build_dir" && mkdir -p "$build_dir"
  (
    cd "$build_dir"
    "$source_dir/configure" -q --host="$host" CC="$cc" CFLAGS="-O2" --prefix="$prefix" \
      --disable-shared --enable-static "${CONFIGURE_EXTRA[@]}"
    make -s -j "$jobs" "${BUILD_ARGS[@]}"
    make -s "${INSTALL_ARGS[@]}"
  ) >"$work/$package.log" 2>&1 || {
    tail -n 40 "$work/$package.log" >&2
    echo "build-mingw-deps: building $package failed (log: $work/$package.log)" >&2
    return 1
  }
  basename "$source_dir" >"$stamp"
}

# liblzma alone: the command-line tools, translations and documents are not
# needed.
CONFIGURE_EXTRA=(--disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links
  --disable-scripts --disable-doc --disable-nls)
BUILD_ARGS=(-C src/liblzma)
INSTALL_ARGS=(-C src/liblzma install)
build_package xz-utils

CONFIGURE_EXTRA=()
BUILD_ARGS=(src/liblzo2.la)
INSTALL_ARGS=(install-libLTLIBRARIES install-pkgincludeHEADERS install-pkgconfigDATA)
build_package lzo2
