"""Compares two midicsv listings as MIDI meaning, not bytes: a note-on of velocity 0 is a
note-off of velocity 64, tempo and time signatures belong to the first track, and events
of one track at one time may come in any order."""
import csv
import sys


def events(path):
    out = []
    with open(path, newline="") as f:
        for row in csv.reader(f, skipinitialspace=True):
            if not row:
                continue
            track, time, kind, fields = int(row[0]), int(row[1]), row[2], row[3:]
            if kind in ("Start_track", "End_of_file"):
                continue
            if kind == "Header":
                fields = fields[:1] + fields[2:]  # the track count follows from the tracks
            if kind == "Note_on_c" and int(fields[2]) == 0:
                kind, fields = "Note_off_c", fields[:2] + ["64"]
            if kind in ("Tempo", "Time_signature"):
                track = 1
            out.append((track, time, kind, tuple(fields)))
    return sorted(out)


a, b = events(sys.argv[1]), events(sys.argv[2])
if a != b:
    for line in sorted(set(a) ^ set(b)):
        print(("only in first:  " if line in a else "only in second: ") + repr(line))
    sys.exit(1)
