#!/bin/bash
# Makes sure this machine runs 32-bit x86 programs (Wine's 32-bit loader, and with it
# Relocator.exe and every Windows test program).
#
#   i386-host.sh ensure   set the machine up if needed (run as root; setup.sh calls it)
#   i386-host.sh status   print "native" or "emulated by <interpreter>"
#
# Some virtual machines execute no 32-bit x86 code at all. There a user-mode emulator,
# qemu-i386 from the backports of this Debian release (version 10: Debian 12's own 7.2 needs
# about 50 s to start each 32-bit Wine process), is registered with binfmt_misc for i386 ELF
# programs. Where 32-bit programs run natively, nothing is installed or changed.
#
# RELOCATOR_EMULATE_I386=1 sets the emulator up even where 32-bit programs run natively, to
# rehearse the emulated machine on a native one (binfmt_misc handlers come before the kernel's
# own ELF loader).
set -eu

name=qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
handler=$binfmt/$name
qemu=/usr/bin/qemu-i386
loader=/usr/lib/wine/wine
. /etc/os-release
codename=${VERSION_CODENAME:-bookworm}
backports=$codename-backports
sources=/etc/apt/sources.list.d/relocator-backports.sources
pin=/etc/apt/preferences.d/relocator-backports
# i386 ELF executables and shared objects, as qemu's own binfmt configuration matches them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

say() { echo "i386-host: $*"; }
fail() {
  echo "i386-host: ERROR: $*" >&2
  exit 1
}

probe() { timeout 120 "$loader" --version >/dev/null 2>&1; }

# The interpreter of our handler, empty when there is none.
interpreter() {
  [ -r "$handler" ] || return 0
  sed -n 's/^interpreter //p' "$handler"
}

handler_is_ours() {
  [ -r "$handler" ] && grep -qx enabled "$handler" && [ "$(interpreter)" = "$qemu" ] &&
    grep -q '^flags:.*F' "$handler"
}

status() {
  if handler_is_ours; then
    echo "emulated by $qemu"
    return
  fi
  # Any other enabled handler for i386 ELF programs runs them as well.
  local f
  for f in "$binfmt"/*; do
    [ -f "$f" ] || continue
    case $f in */status | */register) continue ;; esac
    if grep -qx enabled "$f" && grep -q '^magic 7f454c4601010100000000000000000002000300' "$f"; then
      echo "emulated by $(sed -n 's/^interpreter //p' "$f")"
      return
    fi
  done
  echo native
}

# Writes a file only when its content differs; returns 0 when it changed the file.
write_if_changed() {
  local path=$1 content=$2
  if [ -f "$path" ] && [ "$(cat "$path")" = "$content" ]; then
    return 1
  fi
  printf '%s\n' "$content" >"$path"
  say "wrote $path"
}

# The Debian archive this machine already takes its release from (deb822 or one-line form).
archive_uri() {
  local uri
  uri=$(awk -v suite="$codename" 'BEGIN { RS = "" }
    {
      uris = ""; hit = 0; n = split($0, lines, "\n")
      for (i = 1; i <= n; i++) {
        if (lines[i] ~ /^URIs:/) { split(lines[i], w, /[ \t]+/); uris = w[2] }
        if (lines[i] ~ /^Suites:/) {
          m = split(lines[i], w, /[ \t]+/)
          for (j = 2; j <= m; j++) if (w[j] == suite) hit = 1
        }
      }
      if (hit && uris != "") { print uris; exit }
    }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v suite="$codename" '$1 == "deb" {
        i = 2; if ($i ~ /^\[/) while ($i !~ /\]$/) i++
        if ($i ~ /^\[/ || $i ~ /\]$/) i++
        if ($(i + 1) == suite) { print $i; exit }
      }' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || fail "no Debian archive for '$codename' in the apt sources; cannot enable $backports"
  echo "$uri"
}

enable_backports() {
  local uri keyring changed=1
  uri=$(archive_uri)
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  write_if_changed "$sources" "# The emulator for 32-bit x86 programs (scripts/i386-host.sh); pinned to nothing else.
Types: deb
URIs: $uri
Suites: $backports
Components: main
Signed-By: $keyring" && changed=0
  write_if_changed "$pin" "# Nothing from $backports but the emulator for 32-bit x86 programs (scripts/i386-host.sh).
Package: *
Pin: release n=$backports
Pin-Priority: -1

Package: qemu-user
Pin: release n=$backports
Pin-Priority: 600" && changed=0
  return $changed
}

install_qemu() {
  local version
  version=$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null || true)
  case $version in
    "install ok installed "*bpo*) [ -x "$qemu" ] && return 0 ;;
  esac
  say "installing qemu-user from $backports"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -t "$backports" qemu-user >/dev/null
  [ -x "$qemu" ] || fail "qemu-user from $backports installed no $qemu"
  # binfmt_misc runs the interpreter in the program's own file system view: it must need no
  # loader or libraries of its own.
  if LC_ALL=C readelf -l "$qemu" 2>/dev/null | grep -q 'Requesting program interpreter'; then
    fail "$qemu is not a static program"
  fi
}

register_handler() {
  if ! mountpoint -q "$binfmt"; then
    say "mounting binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$binfmt" || fail "cannot mount binfmt_misc on $binfmt"
  fi
  [ "$(cat "$binfmt/status")" = enabled ] || echo 1 >"$binfmt/status"
  if handler_is_ours; then
    return
  fi
  if [ -e "$handler" ]; then
    say "replacing the $name handler of $(interpreter)"
    echo -1 >"$handler"
  fi
  say "registering $qemu for i386 programs (binfmt_misc, fix-binary)"
  printf ':%s:M::%s:%s:%s:F\n' "$name" "$magic" "$mask" "$qemu" >"$binfmt/register" ||
    fail "binfmt_misc refused the $name handler"
}

ensure() {
  [ -x "$loader" ] || fail "$loader is missing (package wine32:i386)"
  if handler_is_ours && probe; then
    return
  fi
  if [ ! -e "$handler" ] && [ -z "${RELOCATOR_EMULATE_I386:-}" ] && probe; then
    return
  fi
  say "32-bit x86 programs need the emulator on this machine"
  enable_backports || true
  install_qemu
  register_handler
  probe || fail "32-bit x86 programs still do not run: '$loader --version' failed with $qemu registered for them ($(status))"
  say "32-bit x86 programs run, $(status)"
}

case ${1:-} in
  ensure) ensure ;;
  status) status ;;
  *)
    echo "usage: $0 ensure|status" >&2
    exit 2
    ;;
esac
