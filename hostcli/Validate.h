// The validator: drives one filter through the module as a host does, check by check,
// each check in a child process of its own so that a crash or a hang fails only that check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EventStore.h"
#include "Options.h"

struct CheckInfo {
    const char* name;
    int32_t level;
    const char* what;
};

// Every check, lowest level first.
const std::vector<CheckInfo>& validationChecks();

// What is wrong with one event a module output ("" when nothing): known kind, channel
// 0-15, data bytes below 128, a sysex message from F0 to F7.
std::string malformedEvent(const EventData& event);

// What the host's account shows wrong once the module has let go of everything ("" when
// clean): events it made and never gave back, given back twice, unknown or stale handles.
std::string accountingProblems(const EventStore& store);

// Notes the output started and never ended (a note-on without duration or note-off).
class NoteBalance {
public:
    void add(const EventData& event);
    int32_t sounding() const { return sounding_; }
    // The earliest note still sounding, in words; "" when none is.
    std::string first() const;

private:
    int32_t open_[16 * 128] = {};
    int32_t since_[16 * 128] = {};  // time of the oldest open note of each channel and key
    int32_t sounding_ = 0;
};

// The validate command: the checks up to the level, one child process each.
int runValidate(const Options& options);
// One check in this process (the hidden --run-check): one JSON line per outcome on stdout.
int runValidateCheck(const Options& options);
