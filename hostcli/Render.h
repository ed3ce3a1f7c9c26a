// Plays a song through a module as a sequencer does, and turns what the module
// output back into a Standard MIDI File track.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "EventStore.h"
#include "MidiFile.h"
#include "Options.h"
#include "TimedInput.h"
#include "interfaces/HostInterfaces.h"
#include "interfaces/MfxInterfaces.h"

class ReferenceHost;

struct RenderSettings {
    int32_t block = 0;  // ticks per process call; 0: division / 4
    bool loop = false;
    int32_t loopStart = 0, loopLength = 0, loopTimes = 2;  // the cycle is played loopTimes times
    int32_t idleCalls = 1;                                 // idle process calls after each block
    // Sees every event the module output, before it is collected; may be empty.
    std::function<void(const EventData&)> inspect;
    // After the last event the render plays empty blocks: by default until the filter
    // has output nothing for a bar (at most 8 bars), else for tail exactly (0: none).
    bool tailUntilQuiet = true;
    Duration tail;
    // Called now and then with the share done (0 to 1); may be empty.
    std::function<void(double)> progress;
};

struct RenderResult {
    midifile::Song output;
    uint64_t eventsIn = 0;
    uint64_t eventsOut = 0;   // host events the module output
    uint32_t songTicks = 0;   // the input's length
    uint32_t tailTicks = 0;   // played after the song's end
    int64_t songMicros = 0;
    uint64_t processCalls = 0;
    double seconds = 0;       // the playing itself, without building the output
    double moduleSeconds = 0; // of that, inside the module's calls (with the host operations it calls)
    std::map<std::string, uint64_t> notCarried;  // input events the host could not play, by reason
};

// A steady clock in seconds (the performance counter).
double secondsNow();

// The value below which a share p (0 to 1) of the values lie; 0 for none.
double percentile(std::vector<double> values, double p);

// The song's tempo and meter changes as the host's time map (division as time base).
void loadTimeMap(ReferenceHost& host, const midifile::Song& song);

// The channel events and sysex of every track in time order (notes with duration).
std::vector<const midifile::Event*> playableEvents(const midifile::Song& song);

// Creates one host event for a song event (host-owned); 0 for kinds the host does not play.
HostEvent newHostEvent(EventStore& store, const midifile::Event& e);
// Why a playable song event makes no host event; null when it makes one.
const char* notCarriedReason(const midifile::Event& e);

// The MFX record a filter driven directly gets for a song event; false for sysex and metas,
// which need a host's sysex blocks.
bool mfxRecord(const midifile::Event& e, MfxEvent& out);

// The module's output as a track: a 0x90 event with a duration is a note; one with
// velocity 0 ends the oldest open note of its key and channel that has none; an
// unpaired one becomes a note-off. Events are ordered by time (stable); times below
// 0 become 0. endTick is at least minEnd.
midifile::Track outputTrack(std::vector<EventData> events, uint32_t minEnd);

// The song the output is written as: the input's division, tempo map and tempo-track
// metas, then the module's output as one track.
midifile::Song outputSong(const midifile::Song& input, midifile::Track track);

// Plays the whole song through an initialised module on host. False with a reason.
bool renderSong(IMidiModule* module, ReferenceHost& host, const midifile::Song& song, const RenderSettings& settings,
                RenderResult& result, std::string& error);

// The render command: one-line summary on stdout, exit code.
int runRender(const Options& options);
