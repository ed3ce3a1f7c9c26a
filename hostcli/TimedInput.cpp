#include "TimedInput.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "Options.h"

bool parseDuration(const std::string& text, bool allowBars, Duration& out, std::string& error, const char* what) {
    size_t digits = 0;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
        ++digits;
    const std::string number = text.substr(0, digits), unit = text.substr(digits);
    char* end = nullptr;
    const double value = number.empty() || number == "." ? -1 : std::strtod(number.c_str(), &end);
    const bool parsed = value >= 0 && end && *end == '\0';
    Duration d;
    if (parsed && (unit.empty() || unit == "ms") && value <= 3600e3) {
        d.micros = std::llround(value * 1e3);
    } else if (parsed && unit == "s" && value <= 3600) {
        d.micros = std::llround(value * 1e6);
    } else if (parsed && allowBars && (unit == "bar" || unit == "bars") && value <= 1000) {
        d.unit = Duration::Unit::Bars;
        d.bars = value;
    } else {
        error = std::string(what) + " wants a time from 0 up in ms or s" + (allowBars ? " or bars" : "") +
                " (e.g. 480ms, 1.5s" + (allowBars ? ", 2bars" : "") + "), not \"" + text + "\"";
        return false;
    }
    out = d;
    return true;
}

bool parseTimedMessages(const std::vector<std::string>& args, std::vector<TimedMessage>& out, std::string& error) {
    std::vector<TimedMessage> all;
    int64_t at = 0;
    std::string atText = "the start";
    std::vector<std::string> run;
    auto flush = [&]() {
        std::vector<uint8_t> bytes;
        std::vector<MidiMessage> messages;
        if (run.empty()) {
            if (atText == "the start") return true;
            error = atText + " is followed by no MIDI bytes";
            return false;
        }
        if (!parseHexBytes(run, bytes, error) || !splitMessages(bytes, messages, error)) return false;
        for (const MidiMessage& m : messages)
            all.push_back({at, m.status, m.data1, uint8_t(dataByteCount(m.status) == 2 ? m.data2 : 0)});
        run.clear();
        return true;
    };
    for (const std::string& arg : args) {
        if (arg.empty() || arg[0] != '@') {
            run.push_back(arg);
            continue;
        }
        if (!flush()) return false;
        Duration d;
        if (!parseDuration(arg.substr(1), false, d, error, "a message time")) {
            error = "\"" + arg + "\" is not a message time: @ wants a time from 0 up in ms or s (e.g. @480ms, @1.5s)";
            return false;
        }
        if (d.micros < at) {
            error = arg + " is earlier than " + atText + ": message times may not go backwards";
            return false;
        }
        at = d.micros;
        atText = arg;
    }
    if (!flush()) return false;
    if (all.empty()) {
        error = "live wants MIDI bytes in hex, e.g. 90 3C 64";
        return false;
    }
    out = all;
    return true;
}
