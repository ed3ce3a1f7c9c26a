#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages. Safe to run again.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_ dpkg --add-architecture i386
  updated=0
fi

for p in g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake ninja-build wine wine32:i386 \
         xvfb xauth googletest midicsv python3 \
         nlohmann-json3-dev libcli11-dev libz-mingw-w64-dev; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_ apt-get update -qq
  sudo_ apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

command -v i686-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null
command -v xvfb-run >/dev/null
echo "setup: toolchain ready"
