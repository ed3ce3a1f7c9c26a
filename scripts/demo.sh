#!/usr/bin/env bash
# The demo: set up, build, make a Wine prefix, register the sample filters, list the
# module's classes, render examples/demo.mid through Transpose (+5) and Echo, show the
# first notes before and after, play a live note through Echo, take editor screenshots,
# run the benchmark, validate both filters at level 10 and show the catalogue. The files
# end up in build/demo-output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PAL_BUILD_DIR:-$root/build}
export PAL_BUILD_DIR=$build

bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"

export WINEPREFIX=$build/wineprefix-demo
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
out=$build/demo-output
rm -rf "$out"
mkdir -p "$out"
export PAL_ROOT=$root PAL_OUT=$out

# One virtual display for every Wine call: the prefix's processes keep the display they started with.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  host() { "$PAL_ROOT/scripts/palisander-host" "$@"; }
  notes() { midicsv "$1" | grep Note_on_c | head -n 8 | cut -d, -f2,4- | sed "s/^ *//"; }
  wineserver -k 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "demo: making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  for dll in transpose echo; do
    wine regsvr32 /s "$(winepath -w "$PAL_BUILD_DIR/bin/$dll.dll")"
  done
  echo "demo: registered the sample filters"
  echo
  host list | tee "$PAL_OUT/classes.txt"
  echo

  cp "$PAL_ROOT/examples/demo.mid" "$PAL_OUT/demo.mid"
  # The Transpose filter'"'"'s saved state: "PTRS", version 1, one value (+5 semitones).
  printf "PTRS\001\000\001\000\005\000\000\000" >"$PAL_OUT/transpose-plus5.state"
  host render "$PAL_OUT/demo.mid" "$PAL_OUT/demo-transpose.mid" --filter Transpose \
    --state "$PAL_OUT/transpose-plus5.state" --save-state "$PAL_OUT/transpose-saved.state"
  host render "$PAL_OUT/demo.mid" "$PAL_OUT/demo-echo.mid" --filter Echo
  echo
  echo "first notes (time, channel, key, velocity): before | through Transpose +5 | through Echo"
  paste -d"|" <(notes "$PAL_OUT/demo.mid") <(notes "$PAL_OUT/demo-transpose.mid") <(notes "$PAL_OUT/demo-echo.mid") |
    sed "s/|/   |   /g"
  echo

  echo "live through Echo on the wall clock: a note held for half a second, its repeats on the timer"
  host live --filter Echo 90 3C 64 @500ms 80 3C 00 | tee "$PAL_OUT/live-echo.txt"
  echo

  host editor --filter Transpose --screenshot "$PAL_OUT/editor-transpose.png"
  host editor --filter Echo --screenshot "$PAL_OUT/editor-echo.png"
  echo
  host bench | tee "$PAL_OUT/bench.txt"
  echo
  for f in Transpose Echo; do
    lower=$(echo "$f" | tr A-Z a-z)
    host validate --filter "$f" --level 10 --json "$PAL_OUT/validate-$lower.json" | tee "$PAL_OUT/validate-$lower.txt" ||
      echo "demo: validate found faults in $f"
    echo
  done
  host scan | tee "$PAL_OUT/scan.txt"
  wineserver -k 2>/dev/null || true
'
echo
echo "demo: the outputs are in $out"
ls "$out"
