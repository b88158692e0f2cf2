#!/bin/bash
# Installs what the build and the tests need on a fresh Debian 12 machine (run as root), and
# makes sure the machine runs 32-bit x86 programs (natively, or through an emulator where the
# machine cannot: scripts/i386-host.sh). A machine already set up is left as it is.
set -eu
cd "$(dirname "$0")/.."
packages="cmake ninja-build clang libclang-rt-14-dev googletest nlohmann-json3-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 openssl osslsigncode chromium zip unzip"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
scripts/i386-host.sh ensure
