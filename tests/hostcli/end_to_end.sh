#!/usr/bin/env bash
# End to end through the real module: the sample filters registered, MIDI files made
# with csvmidi, rendered by palisander-host, and read back with midicsv.
# Usage: end_to_end.sh BIN_DIR (runs in the Wine prefix of the test run).
set -u
bin=$(cd "$1" && pwd)
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

host() { wine "$bin/palisander-host.exe" "$@"; }
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# Wine sees the Unix root as drive Z: (winepath would cost a Wine process).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Where a CPU emulator runs Wine (PAL_EMULATED=1), every Wine process costs about a
# minute: only the core rows run there, the others say they were skipped.
full() {
  if [ "${PAL_EMULATED:-0}" = 1 ]; then echo "skip $1 (emulated)"; return 1; fi
}

for dll in transpose echo; do
  wine regsvr32 /s "$(winpath "$bin/$dll.dll")" || fail "regsvr32 $dll.dll"
done

# ---- list ----
host list --json >"$work/list.json" 2>"$work/list.err"
check "list --json names both sample filters" grep -q '"name": "Transpose"' "$work/list.json"
check "list --json has Echo" grep -q '"name": "Echo"' "$work/list.json"
full "list prints a table" && check "list prints a table" bash -c "host() { wine '$bin/palisander-host.exe' \"\$@\"; }; host list | grep -q 'Transpose'"

# ---- a piece with every kind of channel event, sysex, tempo and meter ----
cat >"$work/in.csv" <<'CSV'
0, 0, Header, 1, 2, 96
1, 0, Start_track
1, 0, Title_t, "end to end"
1, 0, Time_signature, 3, 2, 24, 8
1, 0, Tempo, 500000
1, 192, Tempo, 400000
1, 400, End_track
2, 0, Start_track
2, 0, Program_c, 1, 5
2, 0, Control_c, 1, 7, 100
2, 0, Note_on_c, 1, 60, 90
2, 10, Pitch_bend_c, 1, 8192
2, 11, Pitch_bend_c, 1, 0
2, 12, Pitch_bend_c, 1, 16383
2, 20, System_exclusive, 4, 67, 16, 76, 247
2, 30, Poly_aftertouch_c, 1, 60, 33
2, 40, Channel_aftertouch_c, 1, 50
2, 48, Note_off_c, 1, 60, 31
2, 48, Note_on_c, 15, 64, 100
2, 50, Note_on_c, 0, 127, 1
2, 96, Note_off_c, 15, 64, 0
2, 100, Note_off_c, 0, 127, 127
2, 200, Control_c, 3, 64, 127
2, 399, Note_on_c, 2, 0, 127
2, 400, Note_off_c, 2, 0, 64
2, 400, End_track
0, 0, End_of_file
CSV
csvmidi "$work/in.csv" "$work/in.mid" || fail "csvmidi made the input"

# Channel events and sysex as "time, type, values" lines, sorted (one tick's order may differ).
events() { midicsv "$1" | grep -E '_c,|System_exclusive' | cut -d, -f2- | sed 's/^ *//' | sort; }
metas() { midicsv "$1" | grep -E 'Tempo|Time_signature|Header' | cut -d, -f2- | sed 's/^ *//' | sort; }

check "the input holds its 17 channel and sysex lines" test "$(events "$work/in.mid" | wc -l)" -eq 17
host render "$work/in.mid" "$work/pass.mid" --filter Transpose >"$work/pass.out" 2>"$work/pass.err"
check "pass-through render succeeds" test -s "$work/pass.mid"
check "summary names the counts" grep -q '13 events in, 13 out' "$work/pass.out"
check "pass-through keeps every channel event, sysex and time" \
  diff <(events "$work/in.mid") <(events "$work/pass.mid")
check "pass-through keeps division, tempo map and meter" \
  diff <(metas "$work/in.mid" | sed 's/Header, 1, 2,/Header/') <(metas "$work/pass.mid" | sed 's/Header, 1, 2,/Header/')

# ---- Transpose +5 through a saved state ----
printf 'PTRS\001\000\001\000\005\000\000\000' >"$work/plus5.state"
host render "$work/in.mid" "$work/up.mid" --filter Transpose --state "$work/plus5.state" \
  --save-state "$work/saved.state" --block 5 >/dev/null 2>"$work/up.err"
shift_keys() { awk -F', ' -v OFS=', ' '$2 ~ /Note_on_c|Note_off_c|Poly_aftertouch_c/ { $4 = $4 + 5 } { print }'; }
check "Transpose +5 shifts every key and nothing else" \
  diff <(events "$work/in.mid" | grep -v 'Note_o[nf]*_c, 0, 127,' | shift_keys | sort) \
       <(events "$work/up.mid" | sort)
check "a key shifted past 127 is dropped" bash -c "! midicsv '$work/up.mid' | grep -q 'Note_on_c, 0, 132'"
check "--save-state writes the state that was restored" cmp -s "$work/plus5.state" "$work/saved.state"

# ---- Echo, and a loop ----
if full "Echo over the piece, and a loop"; then
host render "$work/in.mid" "$work/echo.mid" --filter Echo >/dev/null 2>"$work/echo.err"
check "Echo adds repeats" test "$(events "$work/echo.mid" | grep -c Note_on_c)" -gt "$(events "$work/in.mid" | grep -c Note_on_c)"
host render "$work/in.mid" "$work/loop.mid" --filter Transpose --loop 0:96:3 >"$work/loop.out" 2>&1
check "a loop of 96 ticks played 3 times repeats its program change at 96 and 192" \
  test "$(events "$work/loop.mid" | grep -c 'Program_c, 1, 5')" -eq 3
fi

# ---- one note through Echo, the file ending at its release: the tail keeps the repeats ----
cat >"$work/one.csv" <<'CSV'
0, 0, Header, 1, 2, 480
1, 0, Start_track
1, 0, Tempo, 500000
1, 0, End_track
2, 0, Start_track
2, 0, Note_on_c, 0, 60, 100
2, 480, Note_off_c, 0, 60, 0
2, 480, End_track
0, 0, End_of_file
CSV
csvmidi "$work/one.csv" "$work/one.mid" || fail "csvmidi made the one-note file"
notes_on() { midicsv "$1" | grep Note_on_c | awk -F', ' '$6 > 0 { print $2 ", " $6 }' | tr '\n' ' '; }
host render "$work/one.mid" "$work/one-echo.mid" --filter Echo >"$work/one.out" 2>&1
check "render plays on after the file: the note and its three repeats" \
  test "$(notes_on "$work/one-echo.mid")" = "0, 100 240, 70 480, 49 720, 34 "
check "the output's end moved past the last repeat" \
  test "$(midicsv "$work/one-echo.mid" | awk -F', ' '$3 == "End_track" { e = $2 } END { print e }')" -gt 1200
if full "--tail 0"; then
host render "$work/one.mid" "$work/one-cut.mid" --filter Echo --tail 0 >/dev/null 2>&1
check "--tail 0 stops at the last event" test "$(notes_on "$work/one-cut.mid")" = "0, 100 240, 70 "
fi

# ---- live, on the wall clock ----
if full "live as text"; then
host live --filter Transpose 90 3C 64 80 3C 00 >"$work/live.out" 2>&1
check "live passes a note on and off through" \
  diff <(grep -o 'out: .*' "$work/live.out") <(printf 'out: 90 3C 64\nout: 80 3C 00\n')
fi
host live --filter Transpose --json 90 3C 64 @300ms 80 3C 00 >"$work/live.json" 2>&1
# Echo at its defaults: 3 repeats, half a beat apart (250 ms at the host's 120 BPM), 30% softer each.
host live --filter Echo --json 90 3C 64 @500ms 80 3C 00 >"$work/echo-live.json" 2>&1
check "live output keeps its times; Echo repeats live notes on the timer, every event given back" \
  python3 - "$work/live.json" "$work/echo-live.json" <<'PY'
import json, sys
def out(path):
    r = json.load(open(path))
    assert r["given_back"] is True, r
    return r, [e for e in r["events"] if e["dir"] == "out"]
r, moved = out(sys.argv[1])
tolerance = 2 * r["timer_ms"]  # idle calls ride the timer
sent = [e for e in r["events"] if e["dir"] == "in"]
assert [e["bytes"] for e in moved] == ["90 3C 64", "80 3C 00"], moved
assert 300 <= sent[1]["ms"] <= 300 + tolerance, sent
assert all(0 <= o["ms"] - i["ms"] <= tolerance for i, o in zip(sent, moved)), (sent, moved)
r, echoed = out(sys.argv[2])
notes = [e for e in echoed if e["bytes"].startswith("90")]
assert [e["bytes"] for e in notes] == ["90 3C 64", "90 3C 46", "90 3C 31", "90 3C 22"], echoed
gaps = [b["ms"] - a["ms"] for a, b in zip(notes, notes[1:])]
assert all(abs(g - 250) <= tolerance for g in gaps), gaps
assert sum(e["bytes"] == "80 3C 00" for e in echoed) == 4, echoed
PY

# ---- bad input: one line, non-zero exit, nothing left behind ----
printf 'not a MIDI file at all' >"$work/corrupt.mid"
printf 'XXXX\001\000\001\000\005\000\000\000' >"$work/bad.state"
printf 'MZ nonsense' >"$work/bogus.dll"
bad() {
  local what=$1; shift
  rm -f "$work/bad.mid" "$work"/*.part
  host "$@" >"$work/bad.out" 2>"$work/bad.err"
  local rc=$?
  last_rc=$rc
  if [ $rc -ne 0 ] && [ "$(wc -l <"$work/bad.err")" -eq 1 ] && [ ! -e "$work/bad.mid" ] &&
     ! ls "$work"/*.part >/dev/null 2>&1; then
    pass "$what: $(cat "$work/bad.err")"
  else
    fail "$what (rc $rc, stderr: $(cat "$work/bad.err"))"
  fi
}
bad "corrupt MIDI file" render "$work/corrupt.mid" "$work/bad.mid" --filter Transpose
if full "the other bad input"; then
bad "missing MIDI file" render "$work/none.mid" "$work/bad.mid" --filter Transpose
bad "unknown filter" render "$work/in.mid" "$work/bad.mid" --filter NoSuchFilter
bad "refused state" render "$work/in.mid" "$work/bad.mid" --filter Transpose --state "$work/bad.state"
bad "missing state file" render "$work/in.mid" "$work/bad.mid" --filter Transpose --state "$work/none.state"
bad "module that will not load" render "$work/in.mid" "$work/bad.mid" --filter Transpose --module "$work/bogus.dll"
bad "bad option" render "$work/in.mid" "$work/bad.mid" --filter Transpose --loop 1
for timed in "@-5 90 3C 64" "@abc 90 3C 64" "@500ms 90 3C 64 @200ms 80 3C 00"; do
  bad "live $timed" live --filter Transpose $timed
  check "live $timed is a usage error (exit 2)" test "$last_rc" -eq 2
done

# Without a registered filter the module refuses to load.
for dll in transpose echo; do wine regsvr32 /u /s "$(winpath "$bin/$dll.dll")"; done
bad "module with no filter registered" render "$work/in.mid" "$work/bad.mid" --filter Transpose
check "that error says why" grep -q 'no usable MFX filter' "$work/bad.err"
for dll in transpose echo; do wine regsvr32 /s "$(winpath "$bin/$dll.dll")"; done
fi

# ---- editor screenshot ----
host editor --filter Transpose --screenshot "$work/editor.png" >"$work/editor.out" 2>&1
check "editor screenshot is a PNG with a picture in it" python3 - "$work/editor.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n'
pos, idat, size = 8, b'', None
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    assert zlib.crc32(kind + body) == struct.unpack('>I', data[pos + 8 + n:pos + 12 + n])[0]
    if kind == b'IHDR': size = struct.unpack('>II', body[:8])
    if kind == b'IDAT': idat += body
    pos += 12 + n
raw = zlib.decompress(idat)
w, h = size
assert w >= 140 and h >= 40, size
colours = set(raw[y * (w * 3 + 1) + 1 + x * 3: y * (w * 3 + 1) + 4 + x * 3] for y in range(0, h, 3) for x in range(0, w, 3))
assert len(colours) > 3, colours
PY

# ---- validate, scan and forget, counting, bench: each runs many Wine processes ----
if full "validate, scan, forget, an orphan note-off, bench"; then
# ---- validate: both samples pass every level ----
for f in Transpose Echo; do
  host validate --filter "$f" --level 10 --json "$work/validate.json" >"$work/validate.out" 2>&1
  check "$f passes validate --level 10 (rc $?)" grep -qx '10 passed, 0 failed' "$work/validate.out"
  check "$f: the JSON report says the same" python3 -c "
import json, sys
r = json.load(open(sys.argv[1]))
assert r['passed'] == 10 and r['failed'] == 0, r
assert [c['status'] for c in r['checks']] == ['PASS'] * 10, r
assert r['checks'][-1]['details']['events'] == 1000000, r['checks'][-1]" "$work/validate.json"
done
sed -n '1,$p' "$work/validate.out"

# ---- validate: the test filter, scripted to misbehave, fails the right check for the right reason ----
wine regsvr32 /s "$(winpath "$bin/palisander_testfilter.dll")" || fail "regsvr32 palisander_testfilter.dll"
# script | check | what its line says (a fault's code is the CPU's: emulators give other codes than 0xC0000005)
while IFS='|' read -r script only reason; do
  PALISANDER_TESTFILTER_SCRIPT="$script" host validate --filter "Test Filter 1" --only "$only" --timeout-ms 20000 \
    >"$work/misbehave.out" 2>&1
  rc=$?
  if [ $rc -eq 1 ] && grep -q "^FAIL $only .*$reason" "$work/misbehave.out" && grep -qx '0 passed, 1 failed' "$work/misbehave.out"; then
    pass "\"$script\" fails $only: $(grep '^FAIL' "$work/misbehave.out")"
  else
    fail "\"$script\" should fail $only with \"$reason\" (rc $rc): $(cat "$work/misbehave.out")"
  fi
done <<'ROWS'
raise filterEvents av|process.sequenced|the filter raised an .* in palisander_testfilter.dll during ranges of 1 ticks; the module caught it; directly: filterEvents raised an
raise filterLiveEvents cxx|process.live|directly: filterLiveEvents raised a C++ exception (0xE06D7363)
save counting|state.roundtrip|the state did not round-trip
raise filterEvents die|process.sequenced|the process died with a stack buffer overrun (0xC0000409).*directly: filterEvents ended the process
raise filterEvents hang|process.sequenced|no answer within 20000 ms.*directly: filterEvents did not return within 20000 ms
output filterEvents 90 3C 64|process.sequenced|notes the filter started were never ended
ROWS
host validate --filter "Test Filter 1" --only nothing >"$work/bad.out" 2>"$work/bad.err"
check "an unknown check is a usage error, exit 2" test $? -eq 2

# ---- scan and forget: a good filter, one cached "0", one whose server file is missing, odd cache text ----
verified='HKLM\Software\Morlanite\Palisander\Verified'
ghost='{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F9}'
wine reg add "$verified" /v '{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F2}' /d 0 /f >/dev/null 2>&1
wine reg add "$verified" /v '{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F3}' /d 'not a verdict' /f >/dev/null 2>&1
wine reg add "HKLM\Software\Classes\CLSID\$ghost" /ve /d Ghost /f >/dev/null 2>&1
wine reg add "HKLM\Software\Classes\CLSID\$ghost\InprocServer32" /ve /d 'C:\nowhere\ghost.dll' /f >/dev/null 2>&1
wine reg add "HKLM\Software\Cakewalk Music Software\MIDI Filters\$ghost" /f >/dev/null 2>&1
host scan --json >"$work/scan.json" 2>"$work/scan.err"
check "scan shows files, verdicts as stored and what is offered" python3 - "$work/scan.json" <<'PY'
import json, sys
rows = {f['name']: f for f in json.load(open(sys.argv[1]))['filters']}
expect = {
    'Transpose': ('1', True, 'yes'),
    'Test Filter 2': ('0', True, 'no'),
    'Test Filter 3': ('not a verdict', True, 'probed at the next load'),
    'Ghost': (None, False, 'probed at the next load'),
}
for name, (verdict, exists, offered) in expect.items():
    f = rows[name]
    assert (f['verdict'], f['serverExists'], f['offered']) == (verdict, exists, offered), f
assert rows['Ghost']['server'] == 'C:\nowhere\ghost.dll', rows['Ghost']
PY
host scan >"$work/scan.txt" 2>&1
check "scan prints a table with the missing file" grep -q 'ghost.dll (missing)' "$work/scan.txt"
host forget '{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F2}' >"$work/forget.out" 2>&1
check "forget one verdict" grep -q 'forgot {A7F1D0C0-5A1B-4E6C-9D3E-0000000000F2} (was "0")' "$work/forget.out"
bad "forget an unknown CLSID" forget '{00000000-1111-2222-3333-444444444444}'
check "that error names it" grep -q 'no verdict is cached for {00000000-1111-2222-3333-444444444444}' "$work/bad.err"
host forget --all >"$work/forget.out" 2>&1
host scan --json >"$work/scan.json" 2>&1
check "forget --all leaves no verdict" python3 -c "
import json, sys
assert all(f['verdict'] is None for f in json.load(open(sys.argv[1]))['filters'])" "$work/scan.json"
wine reg delete "HKLM\Software\Cakewalk Music Software\MIDI Filters\$ghost" /f >/dev/null 2>&1
wine regsvr32 /u /s "$(winpath "$bin/palisander_testfilter.dll")"

# ---- render: what could not be carried is counted ----
cat >"$work/orphan.csv" <<'CSV'
0, 0, Header, 0, 1, 96
1, 0, Start_track
1, 0, Note_on_c, 0, 60, 90
1, 10, Note_off_c, 0, 60, 0
1, 20, Note_off_c, 0, 61, 0
1, 30, End_track
0, 0, End_of_file
CSV
csvmidi "$work/orphan.csv" "$work/orphan.mid"
host render "$work/orphan.mid" "$work/orphan-out.mid" --filter Transpose >"$work/orphan.out" 2>&1
check "the summary counts a note-off without its note" grep -q '1 events in, 1 out.*1 input events not carried (1 note-offs without a sounding note)' "$work/orphan.out"

# ---- bench runs and reports (timing never fails the test) ----
host bench --events 20000 >"$work/bench.out" 2>&1
check "bench prints its figures" grep -q 'module path' "$work/bench.out"
check "bench measures the live path" grep -q 'live latency .* us median' "$work/bench.out"
check "bench spreads are ordered: median <= 99th percentile (<= max)" python3 - "$work/bench.out" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
block = re.search(r'^process/block +([\d.]+) us median, ([\d.]+) us 99th percentile, ([\d.]+) us max', text, re.M)
live = re.search(r'^live latency +([\d.]+) us median, ([\d.]+) us 99th percentile', text, re.M)
assert block and live and re.search(r'^share ratio +[-\d.]+ x', text, re.M), text
a, b, c = map(float, block.groups())
assert 0 <= a <= b <= c, block.group(0)
assert 0 <= float(live.group(1)) <= float(live.group(2)), live.group(0)
PY
cat "$work/bench.out"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
