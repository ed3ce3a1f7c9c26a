#!/usr/bin/env bash
# Checks the MIDI file code against midicsv/csvmidi: each csv/NAME.csv becomes NAME.mid
# (csvmidi), the test program reads it and writes NAME.out.mid, and midicsv must read
# that back as the same events. The program also writes built.out.mid from a song it
# builds itself, which must read back as csv/built.expected.csv.
set -euo pipefail
exe=$(realpath "$1") cases=$(realpath "$2") work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"
names=()
for csv in "$cases"/*.csv; do
  name=$(basename "$csv" .csv)
  [[ $name == *.expected ]] && continue
  csvmidi -z "$csv" "$name.mid"
  names+=("$name")
done
PAL_MIDICSV_CASES="${names[*]}" wine "$exe" --gtest_filter='MidiCsv.*'
fail=0
for name in "${names[@]}"; do
  if python3 "$cases/../csv_equivalent.py" <(midicsv "$name.mid") <(midicsv "$name.out.mid"); then
    echo "same events: $name"
  else
    echo "DIFFERENT: $name"; fail=1
  fi
done
if python3 "$cases/../csv_equivalent.py" "$cases/built.expected.csv" <(midicsv built.out.mid); then
  echo "same events: built"
else
  echo "DIFFERENT: built"; fail=1
fi
[ $fail = 0 ] && echo "$(( ${#names[@]} + 1 )) passed, 0 failed" || echo "some files differ"
exit $fail
