// The benchmark: the module's event path against the same filter driven directly.
#pragma once

#include <cstdint>

#include "MidiFile.h"
#include "Options.h"

// A song of `events` channel events (three notes to one controller), one every 4 ticks at 480 per quarter.
midifile::Song benchSong(int32_t events);

int runBench(const Options& options);
