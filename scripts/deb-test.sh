#!/usr/bin/env bash
# Makes the Debian package of a native build (cpack -G DEB) and checks it:
# it holds the two programs, the library, headers and CMake package, the
# manual page and the bash completion; it depends on the runtime libraries
# the programs link, each installed here; unpacked into a scratch root, its
# paktool runs and prints the package's version.
# Usage: scripts/deb-test.sh BUILD_DIR     (an already built build directory)
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "deb-test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(echo "$work"/out/*.deb)
[ -f "$deb" ] || fail "cpack made no .deb"

dpkg -c "$deb" | awk '{ print $6 }' >"$work/files"
for file in usr/bin/paktool usr/bin/Patchloom usr/lib/libfilepacktools.a usr/lib/libpatchloom_platform.a \
            usr/include/patchloom/tools/filepacktools_lib/crealizepack.h \
            usr/include/patchloom/tools/filepacktools_lib/packstream.h \
            usr/include/patchloom/tools/filepacktools_lib/patchloomversion.h \
            usr/include/patchloom/platform/win32.h \
            usr/lib/cmake/Patchloom/PatchloomConfig.cmake usr/lib/cmake/Patchloom/PatchloomConfigVersion.cmake \
            usr/lib/cmake/Patchloom/PatchloomTargets.cmake usr/lib/cmake/Patchloom/PatchloomDeps.cmake \
            usr/share/man/man1/paktool.1 usr/share/bash-completion/completions/paktool; do
  grep -qx "\./$file" "$work/files" || fail "the package lacks /$file"
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 liblzma5 zlib1g liblzo2-2 libzstd1 libgcrypt20; do
  [[ ", $depends" == *", $library "* ]] || fail "the package does not depend on $library: $depends"
done
# Each dependency is a package this machine has installed.
for package in $(echo "$depends" | tr ',' '\n' | awk '{ print $1 }'); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || fail "$package is not installed"
done

version=$(dpkg-deb -f "$deb" Version)
dpkg -x "$deb" "$work/root"
[ "$("$work/root/usr/bin/paktool" --version)" = "paktool $version" ] || fail "its paktool --version is not paktool $version"
echo "deb-test: $(basename "$deb"): files, dependencies and paktool --version as expected"
