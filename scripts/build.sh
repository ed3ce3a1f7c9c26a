#!/usr/bin/env bash
# Configures and builds everything into build/ (or $PAL_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PAL_BUILD_DIR:-$root/build}
# A folder configured before the DLLs moved to the win32 thread-model compiler keeps its
# old compiler, whose runtime takes a TLS slot at every load: configure it afresh.
if [ -f "$build/CMakeFiles/rules.ninja" ] && ! grep -q "g++-win32" "$build/CMakeFiles/rules.ninja"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles" "$build/build.ninja"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" >/dev/null
fi
cmake --build "$build" -j "${PAL_JOBS:-2}"
