// Building songs and events for the MIDI file tests.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "MidiFile.h"

namespace mft {

inline midifile::Event noteEvent(uint32_t tick, uint8_t channel, uint8_t key, uint8_t velocity, uint32_t duration,
                                 uint8_t release) {
    midifile::Event e;
    e.tick = tick;
    e.kind = midifile::EventKind::Note;
    e.status = uint8_t(0x90 | channel);
    e.data1 = key;
    e.data2 = velocity;
    e.duration = duration;
    e.releaseVelocity = release;
    return e;
}

inline midifile::Event channelEvent(uint32_t tick, uint8_t status, uint8_t d1, uint8_t d2 = 0) {
    midifile::Event e;
    e.tick = tick;
    e.status = status;
    e.data1 = d1;
    e.data2 = d2;
    return e;
}

inline midifile::Event blockEvent(uint32_t tick, midifile::EventKind kind, uint8_t status, uint8_t type,
                                  std::vector<uint8_t> bytes) {
    midifile::Event e;
    e.tick = tick;
    e.kind = kind;
    e.status = status;
    e.data1 = type;
    e.bytes = std::move(bytes);
    return e;
}

// Everything an event carries, for comparisons.
typedef std::tuple<uint32_t, int, int, int, int, int, uint32_t, std::vector<uint8_t>> EventView;
inline EventView view(const midifile::Event& e) {
    return EventView(e.tick, int(e.kind), e.status, e.data1, e.data2, e.releaseVelocity, e.duration, e.bytes);
}
inline std::vector<EventView> views(const midifile::Track& t) {
    std::vector<EventView> out;
    for (const midifile::Event& e : t.events) out.push_back(view(e));
    return out;
}

// A file from the header fields and raw track bodies.
inline std::vector<uint8_t> smf(uint16_t format, uint16_t division, const std::vector<std::vector<uint8_t>>& tracks) {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, uint8_t(format), 0, uint8_t(tracks.size()),
                              uint8_t(division >> 8), uint8_t(division)};
    for (const auto& t : tracks) {
        f.insert(f.end(), {'M', 'T', 'r', 'k', 0, 0, uint8_t(t.size() >> 8), uint8_t(t.size())});
        f.insert(f.end(), t.begin(), t.end());
    }
    return f;
}

}  // namespace mft
