// The live path on the wall clock: MIDI messages sent through a filter at their
// times, periodic idle calls, and what came out, stamped by the host's clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EventStore.h"
#include "Options.h"
#include "TimedInput.h"
#include "interfaces/HostInterfaces.h"

class ReferenceHost;

// One output event as hex bytes ("90 41 64"; sysex in full).
std::string describeOutput(const EventData& event);

struct LiveSettings {
    std::vector<TimedMessage> messages;  // in time order
    int32_t periodMs = 20;               // what the host reports as its timer period
    int64_t forMicros = -1;              // after the last message; -1: until quiet
    int64_t quietMicros = 1000000;       // ... for this long
    int64_t longestMicros = 10000000;    // ... but no longer after the last message
};

struct LiveLine {
    int64_t micros = 0;  // host clock
    bool input = false;
    EventData event;
};

struct LiveResult {
    int64_t endMicros = 0;
    uint64_t eventsOut = 0;
    uint64_t idleCalls = 0;
    bool quiet = false;  // ended by the quiet rule, not by --for or the longest wait
};

// Plays the messages through an initialised module on host in real time; each input
// and output line goes to show as it happens.
void playLive(IMidiModule* module, ReferenceHost& host, const LiveSettings& settings,
              const std::function<void(const LiveLine&)>& show, LiveResult& result);

int runLive(const Options& options);
