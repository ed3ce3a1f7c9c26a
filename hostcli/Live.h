// The live path: MIDI bytes sent through a filter at once, and what came out.
#pragma once

#include <string>
#include <vector>

#include "EventStore.h"
#include "Options.h"

// One output event as hex bytes ("90 41 64"; sysex in full).
std::string describeOutput(const EventData& event);

int runLive(const Options& options);
