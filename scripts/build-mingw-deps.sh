#!/usr/bin/env bash
# Cross-builds liblzma, LZO and zstd as static Windows libraries from
# Debian's source packages (apt-get source xz-utils lzo2 libzstd) into
# WORK_DIR/prefix.
# Each library is built once: a stamp in the prefix makes later runs return
# at once, so keep WORK_DIR in the build directory.
#
# autoconf's configure refuses a source directory whose path holds a space
# (and libtool and make break on one), while WORK_DIR lies wherever the
# checkout does. So the sources are unpacked, configured, built and installed
# in a scratch directory of a plain path outside the checkout, named from a
# hash of WORK_DIR; only the installed prefix is copied into WORK_DIR, its
# pkg-config files made to name their directory relative to themselves.
# Usage: scripts/build-mingw-deps.sh WORK_DIR HOST_TRIPLET C_COMPILER
set -euo pipefail

work=${1:?work directory}
host=${2:?host triplet, e.g. x86_64-w64-mingw32}
cc=${3:?C compiler}
mkdir -p "$work/prefix"
work=$(cd "$work" && pwd)
prefix=$work/prefix
jobs=$(nproc)

# The scratch directory: below TMPDIR when its path is plain, else /tmp.
scratch_root=${TMPDIR:-/tmp}
[[ $scratch_root =~ ^/[A-Za-z0-9._/-]*$ ]] || scratch_root=/tmp
scratch=$scratch_root/patchloom-mingw-deps-$(printf '%s' "$work" | sha256sum | cut -c1-16)
scratch_prefix=$scratch/prefix

# Unpacks the newest source of a Debian package below $scratch/src and prints
# the unpacked directory. When the newest cannot be fetched (a security
# update a mirror does not carry), the versions apt knows are tried in turn.
fetch_source() {
  local package=$1
  local dir=$scratch/src/$package
  local version
  for version in "" $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p'); do
    rm -rf "$dir" && mkdir -p "$dir"
    if (cd "$dir" && apt-get source -q "$package${version:+=$version}" >fetch.log 2>&1); then
      find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
      return 0
    fi
  done
  cat "$dir/fetch.log" >&2
  echo "build-mingw-deps: 'apt-get source $package' failed; scripts/enable-deb-src.sh adds the" \
    "deb-src entries it needs (as root)" >&2
  return 1
}

# Copies what a package installed into the scratch prefix to $prefix: its
# pkg-config files then find the prefix from where they lie
# (${pcfiledir}), and libtool's .la files, which would name the scratch
# prefix and which nothing here reads, stay behind.
keep_installed() {
  local pc
  for pc in "$scratch_prefix"/lib/pkgconfig/*.pc; do
    [ -e "$pc" ] || continue
    sed -i -e "/^prefix=/!s|${scratch_prefix//./\\.}|\${prefix}|g" -e 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$pc"
  done
  find "$scratch_prefix" -name '*.la' -delete
  if grep -rlF "$scratch_prefix" "$scratch_prefix" >&2; then
    echo "build-mingw-deps: the files above name the scratch prefix $scratch_prefix" >&2
    return 1
  fi
  cp -R "$scratch_prefix/." "$prefix/"
}

# The autotools build of a package out of tree (in the current directory)
# with the arguments in CONFIGURE_EXTRA, BUILD_ARGS (make, building the
# library) and INSTALL_ARGS (make, installing the library, its headers and
# pkg-config file).
autotools_build() {
  local source_dir=$1
  "$source_dir/configure" -q --host="$host" CC="$cc" CFLAGS="-O2" --prefix="$scratch_prefix" \
    --disable-shared --enable-static "${CONFIGURE_EXTRA[@]}"
  make -s -j "$jobs" "${BUILD_ARGS[@]}"
  make -s "${INSTALL_ARGS[@]}"
}

# zstd's own Makefile, in its source tree: the static library alone,
# without the legacy formats, its headers and pkg-config file.
zstd_build() {
  local source_dir=$1
  local ar=${cc%gcc*}ar
  command -v "$ar" >/dev/null || ar=$host-ar
  local make_args=(-C "$source_dir/lib" CC="$cc" AR="$ar" CFLAGS=-O2 ZSTD_LEGACY_SUPPORT=0 PREFIX="$scratch_prefix")
  make -s -j "$jobs" "${make_args[@]}" libzstd.a
  make -s "${make_args[@]}" install-static install-includes install-pc
}

# Builds one package in the scratch directory with BUILD_FUNCTION, unless
# its stamp says it was built.
build_package() {
  local package=$1 build_function=$2
  local stamp=$prefix/.built-$package
  [ -f "$stamp" ] && return 0
  echo "build-mingw-deps: building $package for $host (in $scratch)"
  rm -rf "$scratch" && mkdir -p "$scratch"
  local source_dir build_dir=$scratch/build/$package
  source_dir=$(fetch_source "$package")
  mkdir -p "$build_dir"
  (cd "$build_dir" && "$build_function" "$source_dir") >"$work/$package.log" 2>&1 &&
    keep_installed 2>>"$work/$package.log" || {
    tail -n 40 "$work/$package.log" >&2
    echo "build-mingw-deps: building $package failed (log: $work/$package.log; sources and build" \
      "left in $scratch)" >&2
    return 1
  }
  basename "$source_dir" >"$stamp"
  rm -rf "$scratch"
}

# liblzma alone: the command-line tools, translations and documents are not
# needed.
CONFIGURE_EXTRA=(--disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links
  --disable-scripts --disable-doc --disable-nls)
BUILD_ARGS=(-C src/liblzma)
INSTALL_ARGS=(-C src/liblzma install)
build_package xz-utils autotools_build

CONFIGURE_EXTRA=()
BUILD_ARGS=(src/liblzo2.la)
INSTALL_ARGS=(install-libLTLIBRARIES install-pkgincludeHEADERS install-pkgconfigDATA)
build_package lzo2 autotools_build

build_package libzstd zstd_build
