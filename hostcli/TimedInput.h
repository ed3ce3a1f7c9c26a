// Time on the command line: durations ("480ms", "1.5s", "2bars") and MIDI messages
// with times ("@0 90 3C 64 @480ms 80 3C 00").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Duration {
    enum class Unit { Micros, Bars };
    Unit unit = Unit::Micros;
    int64_t micros = 0;  // Unit::Micros
    double bars = 0;     // Unit::Bars
};

// A number from 0 up with "ms" (also without a unit), "s" or, when bars are allowed,
// "bar"/"bars"; at most an hour or 1000 bars. False with a one-line reason naming what.
bool parseDuration(const std::string& text, bool allowBars, Duration& out, std::string& error, const char* what);

// One channel message (data2 0 where the kind has one data byte).
struct TimedMessage {
    int64_t micros = 0;  // from the start of the session
    uint8_t status = 0, data1 = 0, data2 = 0;
};

// Hex bytes, each run of them at the time of the "@TIME" before it (0 before the first);
// times may not go backwards and every "@TIME" is followed by bytes.
bool parseTimedMessages(const std::vector<std::string>& args, std::vector<TimedMessage>& out, std::string& error);
