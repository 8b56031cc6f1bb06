# Debian packages of the native build and its tests.
BUILD_PACKAGES=(
  cmake make g++ pkg-config ca-certificates
  googletest libgtest-dev
  liblzma-dev zlib1g-dev liblzo2-dev libgcrypt20-dev
  lzma-alone
)
