#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in its own Wine prefix; the
# cross build's CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs the Windows tests.
# Usage: scripts/wine-run.sh PREFIX PROGRAM [ARG...]   run PROGRAM, exit with its code
#        scripts/wine-run.sh PREFIX --start            create the prefix, start Wine's server
#        scripts/wine-run.sh PREFIX --stop             stop Wine's server and services
#
# Wine's server and its services (services.exe, winedevice.exe, ...) are
# started by the first program that needs them and inherit its standard
# output; a test runner reading that output then waits for them to exit. So
# they are always started here first, as a persistent server, with their
# output on /dev/null.
set -euo pipefail

prefix=${1:?Wine prefix directory}
shift
[ $# -gt 0 ] || { echo "usage: $0 PREFIX PROGRAM [ARG...] | --start | --stop" >&2; exit 2; }
mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=-all
# No Mono or Gecko: their installers would ask for a download.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine decodes Unix paths in the locale's character set: in the C locale it
# cannot open a program, or enter a working directory, whose path holds
# Chinese characters. Paths here are UTF-8, so Wine reads them as such.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi

# As root, Wine would let the program write to read-only files: Wine keeps
# the read-only attribute in the Unix mode bits, which root overrides, while
# on Windows not even an administrator opens such a file for writing. So
# Wine runs without the capabilities that override file permissions.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  caps=-dac_override,-dac_read_search,-fowner
  if setpriv --inh-caps="$caps" --bounding-set="$caps" true 2>/dev/null; then
    as_user=(setpriv --inh-caps="$caps" --bounding-set="$caps")
  fi
fi

quietly() { "$@" </dev/null >/dev/null 2>&1; }

# Creates the prefix on first use and makes sure a persistent server runs.
# Serialised by a lock, since ctest starts several programs at once.
start_wine() {
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    quietly "${as_user[@]}" wineboot -i
    quietly wineserver -w
  fi
  # Status 2: a server already runs for this prefix.
  local status=0
  quietly "${as_user[@]}" wineserver -p || status=$?
  if [ "$status" -eq 0 ]; then
    quietly "${as_user[@]}" wine cmd /c exit 0
  elif [ "$status" -ne 2 ]; then
    echo "wine-run: cannot start wineserver for $WINEPREFIX" >&2
    exit 1
  fi
  flock -u 9
  exec 9>&-
}

case $1 in
  --start)
    start_wine
    ;;
  --stop)
    quietly wineserver -k || true
    quietly wineserver -w || true
    ;;
  *)
    start_wine
    exec "${as_user[@]}" wine "$@"
    ;;
esac
