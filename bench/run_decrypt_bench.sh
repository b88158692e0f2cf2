#!/bin/bash
# The policy step (the Windows build, on Wine) against openssl + grep on the same enciphered
# policy.
#
#   bench/run_decrypt_bench.sh [MiB]      (default 256; files go to build/windows/bench)
#
# Makes a policy-like text of CR LF lines with the IncludeLocalGUI marker near its end and its
# enciphered form (RC4, the agent's key rule: the first 7 bytes of "0x7c41a9e3"), then times
#   ours: decrypt_bench.exe run (DecryptFileToFile alone, timed inside the process), checking that
#         its output is the plain text byte for byte and holds the marker once; and
#         decrypt_bench.exe step: the whole policy step as a migration takes it (readPolicy:
#         decipher into policy.txt, scan it for the marker, delete it), best of three;
#   peer: openssl enc -d -rc4 on the same file into a file, plus grep -c for the marker;
# and prints the step's rate over the peer's: the step is as fast as the peer at 1.00.
# openssl's rc4 takes a 16-byte key and pads the 7 given bytes with zeros, so its output of our
# file is not the plain text (grep finds no marker) while its work is the same. A second peer run
# deciphers a copy enciphered by openssl itself, where grep finds the marker: the fair figure.
#
# On a machine that runs 32-bit x86 programs only through an emulator (scripts/i386-host.sh),
# the Wine figure measures the emulator, not the product. There the same code is also built
# for x86-64 (build/bench-win64) and run on Wine natively, as a stand-in for the product's
# figure; and the portable decoder built natively (Release, no sanitizers) is the reference for
# deciphering speed on every machine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-256}
build=$root/build/windows
exe=$build/bin/decrypt_bench.exe
work=$build/bench
prefix=$build/wine/bench
key_hex=$(printf '0x7c41a' | od -An -tx1 | tr -d ' \n')
marker="IncludeLocalGUI='true'"

if [ ! -f "$exe" ]; then
  (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows --target decrypt_bench)
fi
if [ ! -f "$prefix/system.reg" ]; then
  "$root/tests/wine/make-prefix.sh" "$prefix" win64
fi
export WINEPREFIX=$prefix
wine_run() { "$root/tests/wine/run.sh" "$@"; }
winpath() { echo "Z:$1" | tr '/' '\\'; }

mode=$("$root/scripts/i386-host.sh" status)
emulated_note() {
  if [ "$mode" != native ]; then
    echo "NOTE: 32-bit programs on this machine are $mode: the Wine figures below measure the"
    echo "      emulator, not the product. The native decoder's figures are the reference."
  fi
}
emulated_note

mkdir -p "$work"
plain=$work/policy.plain
stored=$work/policy.xml
ours=$work/policy.txt
peer_out=$work/policy.openssl
peer_own=$work/policy.openssl-enciphered
rm -f "$ours" "$peer_out"

wine_run "$exe" make "$(winpath "$plain")" "$(winpath "$stored")" "$mib"
bytes=$(stat -c %s "$stored")

# Ours: best of three rounds, DecryptFileToFile alone and the whole step.
mkdir -p "$work/step"
step_rate() { # exe -> MiB/s wall of the whole step
  cp "$stored" "$work/step/policy.xml"
  wine_run "$1" step "$(winpath "$work/step")" 3 | tee "$work/step.txt" >&2
  sed -n 's/.* \([0-9.]*\) MiB\/s wall.*/\1/p' "$work/step.txt"
}
wine_run "$exe" run "$(winpath "$stored")" "$(winpath "$ours")" 3 | tee "$work/ours.txt"
ours_rate=$(sed -n 's/.* \([0-9.]*\) MiB\/s wall.*/\1/p' "$work/ours.txt")
ours_cpu=$(sed -n 's/.*wall, \([0-9.]*\) MiB\/s processor.*/\1/p' "$work/ours.txt")
step=$(step_rate "$exe")
if cmp -s "$plain" "$ours"; then ours_ok="output equals the plain text"; else ours_ok="OUTPUT DIFFERS from the plain text"; fi
ours_count=$(grep -c "$marker" "$ours" || true)

# Peer: wall time of openssl into a file plus grep -c, best of three.
peer_run() {
  local in=$1 best="" count
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    openssl enc -d -rc4 -K "$key_hex" -nosalt -provider legacy -provider default -in "$in" -out "$peer_out" 2>/dev/null
    count=$(grep -c "$marker" "$peer_out" || true)
    t1=$(date +%s.%N)
    local s
    s=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$s < $best" | bc -l)" = 1 ]; then best=$s; fi
  done
  echo "$best $count"
}
read -r peer_s peer_count < <(peer_run "$stored")
openssl enc -e -rc4 -K "$key_hex" -nosalt -provider legacy -provider default -in "$plain" -out "$peer_own" 2>/dev/null
read -r own_s own_count < <(peer_run "$peer_own")

rate() { echo "scale=1; $bytes / 1048576 / $1" | bc -l; }
peer_rate=$(rate "$peer_s")
own_rate=$(rate "$own_s")
echo
echo "file: $bytes bytes ($mib MiB), key bytes $key_hex"
echo "ours  DecryptFileToFile on Wine:            $ours_rate MiB/s wall ($ours_cpu MiB/s processor); $ours_ok; marker lines: $ours_count"
echo "peer  openssl + grep -c, same file:         $peer_rate MiB/s wall; marker lines: $peer_count (key padded to 16 bytes)"
echo "peer  openssl + grep -c, its own encipher:  $own_rate MiB/s wall; marker lines: $own_count"
echo "ours / peer (own encipher): $(echo "scale=2; $ours_rate / $own_rate" | bc -l)"
echo "ours  the policy step (readPolicy) on Wine:  $step MiB/s wall"
echo "the policy step / peer (own encipher): $(echo "scale=2; $step / $own_rate" | bc -l)"

if [ "$mode" != native ]; then
  # The stand-in: the same code for x86-64, which this machine runs natively on Wine.
  win64=$root/build/bench-win64
  if [ ! -f "$win64/bin/decrypt_bench.exe" ]; then
    cmake -S "$root" -B "$win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
  fi
  cmake --build "$win64" --target decrypt_bench >/dev/null
  echo
  echo "stand-in: the same code built for x86-64, on Wine natively:"
  wine_run "$win64/bin/decrypt_bench.exe" run "$(winpath "$stored")" "$(winpath "$ours")" 3 | tee "$work/ours64.txt"
  rate64=$(sed -n 's/.* \([0-9.]*\) MiB\/s wall.*/\1/p' "$work/ours64.txt")
  step64=$(step_rate "$win64/bin/decrypt_bench.exe")
  echo "x86-64  DecryptFileToFile / peer: $(echo "scale=2; $rate64 / $own_rate" | bc -l)"
  echo "x86-64  the policy step: $step64 MiB/s wall; / peer: $(echo "scale=2; $step64 / $own_rate" | bc -l)"
fi
rm -f "$peer_out" "$peer_own"

# Reference: the portable decoder built natively, on a file of the same size.
native=$root/build/bench-native
if [ ! -x "$native/bench/cryptfile_bench" ]; then
  cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$native" --target cryptfile_bench >/dev/null
fi
echo
echo "reference: the portable decoder built natively (Release):"
"$native/bench/cryptfile_bench" "$work/native.dat" "$mib"
rm -f "$work/native.dat"
emulated_note
# The large files go unless asked to stay (KEEP=1).
[ "${KEEP:-0}" = 1 ] || rm -rf "$plain" "$stored" "$ours" "$work/step"
