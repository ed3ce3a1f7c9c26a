#!/usr/bin/env bash
# The whole test run: install what is missing, build, then every test in a fresh
# Wine prefix inside one virtual X display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PAL_BUILD_DIR:-$root/build}
export PAL_BUILD_DIR=$build

bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"

export WINEPREFIX=$build/wineprefix-test
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"

# Boot the prefix and let the boot finish, then keep one persistent server for the
# whole run: a test program that finds no server starts a whole new session, with
# its start-up services, which costs minutes where 32-bit code runs under emulation.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -u
  wineboot -i >/dev/null 2>&1
  wineserver -w
  wineserver -p
  ctest --test-dir "$PAL_BUILD_DIR" --output-on-failure "$@"
  rc=$?
  wineserver -k || true
  exit $rc
' ctest "$@"
