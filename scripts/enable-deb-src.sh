#!/usr/bin/env bash
# Lets `apt-get source` work: adds deb-src entries mirroring the machine's own
# deb entries for this Debian release (whatever mirror it is set up with),
# then refreshes the package lists. Does nothing when the sources the cross
# build fetches are known already.
set -euo pipefail

out=/etc/apt/sources.list.d/patchloom-deb-src.sources

# Source lists are there when apt knows the sources the build fetches.
if [ -n "$(apt-cache showsrc xz-utils lzo2 2>/dev/null)" ]; then
  exit 0
fi

. /etc/os-release
codename=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}

# Only suites of this release (bookworm, bookworm-updates, ...): third-party
# repositories often publish no sources.
derive() {
  # deb822 files: copy each stanza that has "deb" among its Types.
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] && [ "$file" != "$out" ] || continue
    awk -v codename="$codename" '
      function flush() {
        if (is_deb && suite_ok && enabled) {
          print "Types: deb-src"
          for (i = 1; i <= n; i++) print lines[i]
          print ""
        }
        n = 0; is_deb = 0; suite_ok = 0; enabled = 1
      }
      BEGIN { enabled = 1 }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { if ($0 ~ /[ \t]deb([ \t]|$)/) is_deb = 1; next }
      /^Enabled:/ { if (tolower($2) == "no") enabled = 0 }
      /^Suites:/ {
        for (i = 2; i <= NF; i++) if ($i == codename || index($i, codename "-") == 1) suite_ok = 1
      }
      { lines[++n] = $0 }
      END { flush() }
    ' "$file"
  done
}

derive_one_line() {
  # One-line format: "deb [options] URI suite components" becomes deb-src.
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$file" ] || continue
    awk -v codename="$codename" '
      $1 != "deb" { next }
      {
        i = 2
        if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        suite = $(i + 1)
        if (suite == codename || index(suite, codename "-") == 1) { sub(/^deb/, "deb-src"); print }
      }
    ' "$file"
  done
}

stanzas=$(derive)
lines=$(derive_one_line)
if [ -z "$stanzas" ] && [ -z "$lines" ]; then
  echo "enable-deb-src: no deb entries for $codename in the apt sources" >&2
  exit 1
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
{
  echo "# Written by Patchloom's scripts/enable-deb-src.sh from this machine's deb entries."
  echo
  printf '%s\n' "$stanzas"
} | $sudo tee "$out" >/dev/null
if [ -n "$lines" ]; then
  printf '%s\n' "$lines" | $sudo tee "${out%.sources}.list" >/dev/null
fi
echo "enable-deb-src: added source entries for $codename; refreshing package lists"
$sudo apt-get update -q
