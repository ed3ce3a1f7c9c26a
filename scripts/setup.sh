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

for p in g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 cmake ninja-build wine wine32:i386 \
         xvfb xauth procps googletest midicsv python3 \
         nlohmann-json3-dev libcli11-dev libz-mingw-w64-dev; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_ apt-get update -qq
  sudo_ apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Some machines run no 32-bit code natively: Wine's 32-bit loader then runs under
# qemu's user-mode emulation, registered here for i386 executables.
if ! wine --version >/dev/null 2>&1; then
  echo "setup: 32-bit programs do not run natively here; installing qemu-user-static"
  export DEBIAN_FRONTEND=noninteractive
  have qemu-user-static || sudo_ apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  # A native server for the emulated programs: the emulated one is slow and was seen
  # to crash during a prefix's boot.
  have wine64 || sudo_ apt-get install -y -qq --no-install-recommends wine64 >/dev/null
  [ -e /proc/sys/fs/binfmt_misc/register ] || sudo_ mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || true
  if [ -w /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    # i386 ELF executables (the kernel reads the \x escapes itself).
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >/proc/sys/fs/binfmt_misc/register
  fi
  wine --version >/dev/null
fi

command -v i686-w64-mingw32-g++-win32 >/dev/null
command -v wine >/dev/null
command -v xvfb-run >/dev/null
echo "setup: toolchain ready"
