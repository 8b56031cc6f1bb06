# Debian packages of the native build and its tests; dpkg-dev and file make
# the Debian package (cpack -G DEB finds its dependencies with them).
BUILD_PACKAGES=(
  cmake make g++ pkg-config ca-certificates dpkg-dev file
  googletest libgtest-dev
  liblzma-dev zlib1g-dev liblzo2-dev libgcrypt20-dev libzstd-dev
  lzma-alone
  libcli11-dev nlohmann-json3-dev
)

# Debian packages of the Windows cross build and of running its tests under
# Wine (64-bit only). dpkg-dev unpacks the sources of xz-utils and lzo2,
# which the cross build compiles itself.
WINE_PACKAGES=(
  g++-mingw-w64-x86-64-posix wine wine64
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev
  googletest dpkg-dev
)

# Debian packages of the benchmarks (scripts/bench.sh), beside the build's:
# xz is the reference coder of the compressed builds and extractions.
BENCH_PACKAGES=(
  xz-utils
)

# Debian packages of the fuzz targets (scripts/fuzz.sh): clang and the
# libFuzzer runtime with the sanitizers.
FUZZ_PACKAGES=(
  clang libclang-rt-14-dev
)
