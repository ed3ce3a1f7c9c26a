// The song's tempo and meter maps and the conversions between event time
// (ticks), real time and measure/beat/tick.
//
// Units, chosen for the reference host:
// - tempo: beats per minute × 100 (12000 is 120 BPM); this is the value that
//   tempoEntry and songInfo report.
// - real time: microseconds from time 0, so that dividing by 1000 gives milliseconds.
// - meter: numerator and denominator as written (6/8 is 6, 8); a beat is a
//   1/denominator note. A meter change starts a new measure at its time.
#pragma once

#include <cstdint>
#include <vector>

#include "WinSync.h"

class TimeMap {
public:
    struct Tempo {
        int32_t time;
        int32_t tempo;  // BPM × 100
    };
    struct Meter {
        int32_t time;
        int32_t numerator;
        int32_t denominator;
        int32_t firstMeasure;  // measure number (from 0) that starts at time
    };

    // 480 ticks per quarter, one tempo of 120 BPM and one 4/4 meter at time 0.
    TimeMap();

    // Ticks per quarter note; false (nothing changes) for a value below 1.
    bool setTimeBase(int32_t ticksPerQuarter);
    int32_t timeBase() const;

    // An entry at an existing time replaces it; the entry at 0 can be replaced,
    // not removed. False for a tempo below 1 or a time below 0.
    bool addTempo(int32_t time, int32_t tempo);
    // False for a numerator below 1, a denominator that is not a power of two
    // from 1 to 64, a beat shorter than a tick, or a time below 0.
    bool addMeter(int32_t time, int32_t numerator, int32_t denominator);
    void clear();

    // Saturated at the 32-bit range; times before 0 use the first tempo.
    int32_t timeToRealTime(int32_t time) const;
    // The nearest tick.
    int32_t realTimeToTime(int32_t realTime) const;

    int32_t tempoCount() const;
    bool tempoEntry(int32_t index, Tempo* out) const;
    // The entry in force at time (0 for times before the second entry).
    int32_t tempoIndexAt(int32_t time) const;
    int32_t tempoAt(int32_t time) const;

    Meter meterAt(int32_t time) const;
    std::vector<Meter> meters() const;
    // Measure, beat and tick count from 0; times before 0 give negative measures.
    void timeToMeasure(int32_t time, int32_t* measure, int32_t* beat, int32_t* tick) const;
    int32_t measureToTime(int32_t measure, int32_t beat, int32_t tick) const;

private:
    int32_t tempoIndexLocked(int32_t time) const;
    int32_t meterIndexLocked(int32_t time) const;
    void renumberMeters();
    int64_t ticksPerBeat(const Meter& m) const;

    mutable Lock lock_;
    int32_t timeBase_ = 480;
    std::vector<Tempo> tempos_;  // sorted by time, first at 0
    std::vector<Meter> meters_;  // sorted by time, first at 0
};
