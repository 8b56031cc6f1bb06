#!/usr/bin/env bash
# The main job: builds Patchloom and paktool, sets up a sample game client
# directory, and updates it the way a player's machine is updated:
#
#   build/demo/game/    Patchloom, clientres.pak (plain, content-tagged),
#                       version.ver, a stand-in client Veshmarkland.exe
#   build/demo/game/update.pak  compressed, content-tagged: the changed and
#                       new files, made by paktool diff from release 1.01
#                       to 1.02, with its statement (which also lists the
#                       file 1.02 removes)
#
# The publisher's key pair is made first and Patchloom is built with its
# public key, so it merges only updates signed with it; update.pak is signed
# (update.pak.sig beside it). A stand-in client is running when the update
# starts; Patchloom checks the signature and that the client holds release
# 1.01, stops the client, merges update.pak into clientres.pak in place
# (removing what 1.02 lacks), checks that the client holds release 1.02,
# writes version.ver and starts the client again. Every sample file is
# generated here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/v1/res/ui" "$demo/v1/res/地图" "$demo/v1/res/bin" "$demo/game" "$demo/keys"

echo "== building paktool, making the publisher's keys, building Patchloom with the public key =="
# A build directory of its own: the key stays out of build/release, whose
# updater the tests expect without one. paktool is built there first, with
# no key, to make the keys; the key then changes one file of the updater.
cmake -S . -B build/keyed -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATCHLOOM_TESTS=OFF -DPATCHLOOM_UPDATE_KEY= >/dev/null
cmake --build build/keyed -j "$(nproc)" --target paktool >/dev/null
paktool=$PWD/build/keyed/tools/paktool/paktool
"$paktool" keygen "$demo/keys/publisher" >/dev/null
cmake -S . -B build/keyed -DPATCHLOOM_UPDATE_KEY="$demo/keys/publisher.pub" >/dev/null
cmake --build build/keyed -j "$(nproc)" --target Patchloom >/dev/null
patchloom=$PWD/build/keyed/launcher/Patchloom
cd "$demo"

# Version 1 of the client's resources: text, x86 code, incompressible
# data, names with Chinese characters. Every byte comes from fixed seeds,
# so every run prints the same.
write_text() {  # FILE LINES WORD
  for ((i = 1; i <= $2; i++)); do echo "$3 line $i: the road to the northern gate is open"; done >"$1"
}
write_random() {  # FILE SIZE SEED: xorshift32 bytes
  perl -e 'my ($n, $x) = @ARGV; my $out = "";
    for (1 .. $n) { $x ^= ($x << 13) & 0xFFFFFFFF; $x ^= $x >> 17; $x ^= ($x << 5) & 0xFFFFFFFF;
                    $out .= chr($x & 0xFF); }
    print $out' "$2" "$3" >"$1"
}
write_code() {  # FILE SIZE SEED: x86-like code, calls and jumps to a few functions
  perl -e 'my ($n, $x) = @ARGV; my $out = ""; my @fn = map { $_ * 4096 } 0 .. 15;
    sub r { $x ^= ($x << 13) & 0xFFFFFFFF; $x ^= $x >> 17; $x ^= ($x << 5) & 0xFFFFFFFF; $x }
    while (length($out) < $n) {
      my $k = r() % 8; my $pos = length($out); my $rel = ($fn[r() % 16] - ($pos + 5)) & 0xFFFFFFFF;
      $out .= ("\x55\x48\x89\xe5", "\xe8" . pack("V", $rel), "\x48\x8b\x45" . chr(r() & 0xF8),
               "\x89\xc7", "\xc3", "\x0f\x1f\x44\x00\x00", "\x48\x83\xec" . chr(r() & 0x78),
               "\xe9" . pack("V", $rel))[$k];
    }
    print substr($out, 0, $n)' "$2" "$3" >"$1"
}
write_text v1/res/ui/title.txt 40 welcome
write_text v1/res/ui/help.txt 200 help
write_text "v1/res/地图/城镇.map" 500 town
write_text "v1/res/地图/森林.map" 300 forest
write_code v1/res/bin/tool.bin 151344 7
write_random v1/res/bin/noise.dat 65536 11

# Version 2: two files changed, one grown, one new in an existing directory,
# one in a directory the client's pack does not have (a loose file), one
# removed.
cp -r v1 v2
rm v2/res/ui/help.txt
write_text v2/res/ui/title.txt 40 "welcome back"
write_text "v2/res/地图/城镇.map" 900 "rebuilt town"
write_random v2/res/bin/noise.dat 131072 12
write_text "v2/res/地图/沙漠.map" 250 desert
mkdir -p v2/res/sounds && write_text v2/res/sounds/readme.txt 5 sound

"$paktool" build v1/res --tags -o game/clientres.pak
# The update carries only what changed since the client's pack: diff
# compares by content and tags the entries, so the merge can tell too. Its
# statement binds it to release 1.01 and lists what 1.02 removes; sign
# signs that statement.
"$paktool" diff game/clientres.pak v2/res --from 1.01 --to 1.02 --compress -o game/update.pak 2>&1
"$paktool" sign game/update.pak --key keys/publisher.key
echo
echo "== merge --dry-run: what the update will do to the client =="
"$paktool" merge --dry-run game/update.pak game/clientres.pak -C game --statement game/update.pak.statement

# The game directory: the updater beside the client's pack, the old version
# and a stand-in for the client.
cp "$patchloom" game/
printf '1.01' >game/version.ver
cat >game/Veshmarkland.exe <<'EOF'
#!/bin/sh
# Stand-in for the game client.
if [ "${1:-}" = --running ]; then while :; do sleep 1; done; fi
echo "Veshmarkland started, version $(cat version.ver)" >client.log
EOF
chmod +x game/Veshmarkland.exe

echo
echo "== before the update =="
echo "version.ver: $(cat game/version.ver)"
"$paktool" list --long --recursive game/clientres.pak
echo
echo "== update.pak =="
"$paktool" list --long --recursive game/update.pak
"$paktool" verify game/update.pak --key keys/publisher.pub

(cd game && exec ./Veshmarkland.exe --running) &
client_pid=$!
disown "$client_pid"
echo
echo "== a client is running; running: Patchloom update.pak 1.02 =="
# Patchloom writes GBK; on a terminal it converts by itself, into a pipe it
# leaves the bytes as Windows does, so convert them for this log.
if [ -t 1 ]; then
  (cd game && ./Patchloom update.pak 1.02 </dev/null)
else
  (cd game && ./Patchloom update.pak 1.02 </dev/null) | iconv -f GBK -t UTF-8
fi
echo
if grep -qs '^State:[[:space:]]*[^Z]' "/proc/$client_pid/status"; then
  echo "the old client is still running"
  kill "$client_pid"
else
  echo "the old client was stopped"
fi

# A loaded machine may take a while to start it.
for _ in $(seq 50); do [ -f game/client.log ] && break; sleep 0.2; done
echo
echo "== after the update =="
echo "version.ver: $(cat game/version.ver)"
echo "client: $(cat game/client.log 2>/dev/null || echo 'not started')"
"$paktool" list --long --recursive game/clientres.pak
echo "loose files written beside the pack: $(cd game && find sounds -type f 2>/dev/null)"
"$paktool" verify game/clientres.pak
echo "extracted clientres.pak against version 2 of the files:"
mkdir -p extracted && "$paktool" extract game/clientres.pak -C extracted >/dev/null
rm -rf expected && mkdir expected && cp -r v2/res expected/ && rm -r expected/res/sounds
diff -r expected/res extracted/res && echo "  identical"
