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

# One Wine session for the whole run: a persistent server, started in the fresh
# prefix before its boot. A test program that finds no server starts a whole new
# session with its start-up services, which costs minutes where 32-bit code runs
# under emulation. The first program after the boot waits for the boot's services;
# a trivial one takes that wait outside the tests' time limits.
mkdir -p "$WINEPREFIX"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -u
  wineserver -p
  wineboot -i >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1
  ctest --test-dir "$PAL_BUILD_DIR" --output-on-failure "$@"
  rc=$?
  wineserver -k || true
  exit $rc
' ctest "$@"
