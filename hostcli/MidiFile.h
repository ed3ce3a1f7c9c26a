// Standard MIDI Files (format 0 and 1, ticks-per-quarter division): reading into
// notes with duration and release velocity, other channel messages, sysex and meta
// events, a tempo map and time signatures; and writing them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midifile {

enum class EventKind : uint8_t {
    Note,     // a paired note-on/off: status 0x90|channel, data1 key, data2 velocity
    Channel,  // any other channel message, status with channel; data2 0 for one-byte messages
    Sysex,    // status 0xF0 (bytes: the whole message from F0) or 0xF7 (bytes: what follows the length)
    Meta,     // status 0xFF, data1 the meta type, bytes its payload (tempo, meter, end of track excluded)
};

struct Event {
    uint32_t tick = 0;
    EventKind kind = EventKind::Channel;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint8_t releaseVelocity = 0;  // notes: the note-off velocity (64 for a note-on of velocity 0)
    uint32_t duration = 0;        // notes, in ticks
    std::vector<uint8_t> bytes;

    uint8_t channel() const { return status & 0x0F; }
};

struct Track {
    std::vector<Event> events;  // in time order
    uint32_t endTick = 0;       // time of the end-of-track event
};

struct Tempo {
    uint32_t tick = 0;
    uint32_t microsPerQuarter = 500000;
};

struct TimeSignature {
    uint32_t tick = 0;
    uint8_t numerator = 4;
    uint8_t denominatorPower = 2;  // the denominator is 2 to this power
    uint8_t clocksPerClick = 24;
    uint8_t thirtySecondsPerQuarter = 8;
};

struct Song {
    uint16_t format = 1;
    uint16_t division = 480;  // ticks per quarter note
    std::vector<Track> tracks;
    // Gathered from every track when reading; written into the first track.
    std::vector<Tempo> tempos;
    std::vector<TimeSignature> meters;

    // The latest event end (note ends included) over all tracks.
    uint32_t lastTick() const;
};

// On failure error says what is wrong and song is left unchanged.
bool parse(const uint8_t* data, size_t size, Song& song, std::string& error);
bool read(const std::string& path, Song& song, std::string& error);

// Format 0 merges every track into one; format 1 writes the tracks as they are. Notes
// become note-on and note-off (velocity = release velocity), in that order when both
// fall on one tick and a note is 0 ticks long; a note-off goes before a note-on of the
// same tick otherwise. Refuses values a file cannot hold.
bool serialize(const Song& song, std::vector<uint8_t>& out, std::string& error);
// Writes to a temporary name beside path and renames it over path at the end.
bool write(const std::string& path, const Song& song, std::string& error);

}  // namespace midifile
