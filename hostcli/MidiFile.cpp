#include "MidiFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>

namespace midifile {
namespace {

const uint32_t kMaxTick = 0x7FFFFFFF;  // host event times are signed 32-bit

std::string format(const char* fmt, long long a = 0, long long b = 0, long long c = 0) {
    char text[200];
    snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// Bytes of one track chunk, read with bounds checks.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    size_t pos() const { return pos_; }
    bool byte(uint8_t& v) {
        if (pos_ >= size_) return false;
        v = data_[pos_++];
        return true;
    }
    bool peek(uint8_t& v) const {
        if (pos_ >= size_) return false;
        v = data_[pos_];
        return true;
    }
    // Variable-length number: at most four bytes.
    bool number(uint32_t& v, std::string& error) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!byte(b)) {
                error = "variable-length number runs past the end of the chunk";
                return false;
            }
            v = v << 7 | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        error = "variable-length number longer than four bytes";
        return false;
    }
    bool bytes(uint32_t n, std::vector<uint8_t>& out) {
        if (n > size_ - pos_) return false;
        out.assign(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

int dataBytes(uint8_t status) {
    uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

bool parseTrack(const uint8_t* data, size_t size, Track& track, Song& song, std::string& error) {
    Cursor in(data, size);
    uint32_t tick = 0;
    uint8_t running = 0;
    std::map<int, std::deque<size_t>> open;  // (channel, key) -> indices of open notes, oldest first
    bool ended = false;
    while (!in.atEnd()) {
        size_t at = in.pos();
        uint32_t delta;
        if (!in.number(delta, error)) return false;
        if (delta > kMaxTick - tick) {
            error = "event times exceed the 32-bit range";
            return false;
        }
        tick += delta;
        uint8_t first;
        if (!in.peek(first)) {
            error = format("event at byte %lld runs past the end of the chunk", (long long)at);
            return false;
        }
        Event e;
        e.tick = tick;
        if (first == 0xFF) {
            in.byte(first);
            running = 0;
            uint8_t type;
            uint32_t length;
            if (!in.byte(type) || !in.number(length, error) || !in.bytes(length, e.bytes)) {
                if (error.empty()) error = format("meta event at byte %lld runs past the end of the chunk", (long long)at);
                return false;
            }
            if (type >= 0x80) {
                // Meta types are 7-bit; what the writer could not write back is refused here.
                error = format("meta event at byte %lld has type 0x%02llX (meta types end at 0x7F)", (long long)at, type);
                return false;
            }
            if (type == 0x2F) {
                track.endTick = tick;
                ended = true;
                break;
            }
            if (type == 0x51 && length == 3) {
                song.tempos.push_back(Tempo{tick, uint32_t(e.bytes[0]) << 16 | uint32_t(e.bytes[1]) << 8 | e.bytes[2]});
                continue;
            }
            if (type == 0x58 && length == 4) {
                song.meters.push_back(TimeSignature{tick, e.bytes[0], e.bytes[1], e.bytes[2], e.bytes[3]});
                continue;
            }
            e.kind = EventKind::Meta;
            e.status = 0xFF;
            e.data1 = type;
            track.events.push_back(std::move(e));
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            in.byte(first);
            running = 0;
            uint32_t length;
            std::vector<uint8_t> body;
            if (!in.number(length, error) || !in.bytes(length, body)) {
                if (error.empty()) error = format("sysex event at byte %lld runs past the end of the chunk", (long long)at);
                return false;
            }
            e.kind = EventKind::Sysex;
            e.status = first;
            if (first == 0xF0) e.bytes.push_back(0xF0);
            e.bytes.insert(e.bytes.end(), body.begin(), body.end());
            track.events.push_back(std::move(e));
            continue;
        }
        uint8_t status;
        if (first & 0x80) {
            in.byte(status);
            if (status >= 0xF0) {
                error = format("status byte 0x%02llX at byte %lld is not allowed in a MIDI file", status, (long long)at);
                return false;
            }
            running = status;
        } else {
            if (!running) {
                error = format("data byte at byte %lld without a status byte", (long long)at);
                return false;
            }
            status = running;
        }
        uint8_t d[2] = {0, 0};
        for (int i = 0; i < dataBytes(status); ++i) {
            if (!in.byte(d[i])) {
                error = format("event at byte %lld runs past the end of the chunk", (long long)at);
                return false;
            }
            if (d[i] & 0x80) {
                error = format("data byte 0x%02llX at byte %lld has its top bit set", d[i], (long long)at);
                return false;
            }
        }
        uint8_t kind = status & 0xF0;
        int key = (status & 0x0F) << 7 | d[0];
        if (kind == 0x90 && d[1] > 0) {
            e.kind = EventKind::Note;
            e.status = status;
            e.data1 = d[0];
            e.data2 = d[1];
            open[key].push_back(track.events.size());
            track.events.push_back(std::move(e));
            continue;
        }
        if (kind == 0x80 || kind == 0x90) {
            auto it = open.find(key);
            if (it != open.end() && !it->second.empty()) {
                Event& note = track.events[it->second.front()];
                it->second.pop_front();
                note.duration = tick - note.tick;
                note.releaseVelocity = kind == 0x80 ? d[1] : 64;
                continue;
            }
            // A note-off without a note is kept as it came.
        }
        e.kind = EventKind::Channel;
        e.status = status;
        e.data1 = d[0];
        e.data2 = d[1];
        track.events.push_back(std::move(e));
    }
    if (!ended) track.endTick = tick;
    // Notes still sounding at the end of the track end there.
    for (auto& entry : open)
        for (size_t index : entry.second) {
            Event& note = track.events[index];
            note.duration = track.endTick - note.tick;
            note.releaseVelocity = 64;
        }
    return true;
}

// One event as it goes into a track chunk.
struct Item {
    uint32_t tick;
    int order;  // 0 note-off of a sounding note, 1 other events, 2 note-off of a 0-tick note
    size_t sequence;
    std::vector<uint8_t> bytes;  // without the delta time
};

void putNumber(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while (v >>= 7) tmp[n++] = 0x80 | (v & 0x7F);
    while (n) out.push_back(tmp[--n]);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

bool addEvent(const Event& e, size_t& sequence, std::vector<Item>& items, std::string& error) {
    auto dataOk = [&](uint8_t v) {
        if (v < 0x80) return true;
        error = format("event at tick %lld has a data byte above 127", e.tick);
        return false;
    };
    if (e.tick > kMaxTick) {
        error = format("event time %lld exceeds the 32-bit range", e.tick);
        return false;
    }
    switch (e.kind) {
    case EventKind::Note: {
        if ((e.status & 0xF0) != 0x90 || !dataOk(e.data1) || !dataOk(e.data2) || !dataOk(e.releaseVelocity)) {
            if (error.empty()) error = format("note at tick %lld has status 0x%02llX", e.tick, e.status);
            return false;
        }
        if (e.data2 == 0) {
            error = format("note at tick %lld has velocity 0", e.tick);
            return false;
        }
        if (e.duration > kMaxTick - e.tick) {
            error = format("note at tick %lld ends beyond the 32-bit range", e.tick);
            return false;
        }
        items.push_back(Item{e.tick, 1, sequence++, {e.status, e.data1, e.data2}});
        items.push_back(Item{e.tick + e.duration, e.duration ? 0 : 2, sequence++,
                             {uint8_t(0x80 | e.channel()), e.data1, e.releaseVelocity}});
        return true;
    }
    case EventKind::Channel: {
        if (e.status < 0x80 || e.status >= 0xF0) {
            error = format("channel event at tick %lld has status 0x%02llX", e.tick, e.status);
            return false;
        }
        Item item{e.tick, 1, sequence++, {e.status, e.data1}};
        if (!dataOk(e.data1)) return false;
        if (dataBytes(e.status) == 2) {
            if (!dataOk(e.data2)) return false;
            item.bytes.push_back(e.data2);
        }
        items.push_back(std::move(item));
        return true;
    }
    case EventKind::Sysex: {
        Item item{e.tick, 1, sequence++, {e.status}};
        if (e.status == 0xF0) {
            if (e.bytes.empty() || e.bytes[0] != 0xF0) {
                error = format("sysex at tick %lld does not start with F0", e.tick);
                return false;
            }
            putNumber(item.bytes, uint32_t(e.bytes.size() - 1));
            item.bytes.insert(item.bytes.end(), e.bytes.begin() + 1, e.bytes.end());
        } else if (e.status == 0xF7) {
            putNumber(item.bytes, uint32_t(e.bytes.size()));
            item.bytes.insert(item.bytes.end(), e.bytes.begin(), e.bytes.end());
        } else {
            error = format("sysex at tick %lld has status 0x%02llX", e.tick, e.status);
            return false;
        }
        items.push_back(std::move(item));
        return true;
    }
    case EventKind::Meta: {
        if (e.data1 >= 0x80 || e.data1 == 0x2F) {
            error = format("meta event at tick %lld has type 0x%02llX", e.tick, e.data1);
            return false;
        }
        Item item{e.tick, 1, sequence++, {0xFF, e.data1}};
        putNumber(item.bytes, uint32_t(e.bytes.size()));
        item.bytes.insert(item.bytes.end(), e.bytes.begin(), e.bytes.end());
        items.push_back(std::move(item));
        return true;
    }
    }
    error = "event of unknown kind";
    return false;
}

void addTempoMap(const Song& song, size_t& sequence, std::vector<Item>& items) {
    for (const Tempo& t : song.tempos)
        items.push_back(Item{t.tick, 1, sequence++,
                             {0xFF, 0x51, 3, uint8_t(t.microsPerQuarter >> 16), uint8_t(t.microsPerQuarter >> 8),
                              uint8_t(t.microsPerQuarter)}});
    for (const TimeSignature& m : song.meters)
        items.push_back(Item{m.tick, 1, sequence++,
                             {0xFF, 0x58, 4, m.numerator, m.denominatorPower, m.clocksPerClick,
                              m.thirtySecondsPerQuarter}});
}

void writeChunk(std::vector<Item>& items, uint32_t endTick, std::vector<uint8_t>& out) {
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.sequence < b.sequence;
    });
    std::vector<uint8_t> body;
    uint32_t tick = 0;
    for (const Item& item : items) {
        putNumber(body, item.tick - tick);
        tick = item.tick;
        body.insert(body.end(), item.bytes.begin(), item.bytes.end());
    }
    putNumber(body, endTick > tick ? endTick - tick : 0);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    put32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> File;

}  // namespace

uint32_t Song::lastTick() const {
    uint32_t last = 0;
    for (const Track& t : tracks)
        for (const Event& e : t.events) last = std::max(last, e.tick + (e.kind == EventKind::Note ? e.duration : 0));
    return last;
}

bool parse(const uint8_t* data, size_t size, Song& song, std::string& error) {
    error.clear();
    if (!data || size < 14 || memcmp(data, "MThd", 4) != 0) {
        error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    uint32_t headerLength = be32(data + 4);
    if (headerLength < 6 || headerLength > size - 8) {
        error = format("header chunk length %lld is wrong for a file of %lld bytes", headerLength, (long long)size);
        return false;
    }
    Song result;
    result.format = be16(data + 8);
    uint16_t trackCount = be16(data + 10);
    uint16_t division = be16(data + 12);
    if (result.format > 1) {
        error = format("MIDI file format %lld is not supported (only 0 and 1)", result.format);
        return false;
    }
    if (division & 0x8000) {
        error = "SMPTE time division is not supported (only ticks per quarter note)";
        return false;
    }
    if (division == 0) {
        error = "time division of 0 ticks per quarter note";
        return false;
    }
    if (result.format == 0 && trackCount != 1) {
        error = format("format 0 file declares %lld tracks instead of 1", trackCount);
        return false;
    }
    result.division = division;
    size_t pos = 8 + headerLength;
    while (result.tracks.size() < trackCount) {
        if (size - pos < 8) {
            error = format("file ends after %lld of %lld tracks", (long long)result.tracks.size(), trackCount);
            return false;
        }
        uint32_t length = be32(data + pos + 4);
        if (length > size - pos - 8) {
            error = format("chunk at byte %lld claims %lld bytes, past the end of the file", (long long)pos, length);
            return false;
        }
        if (memcmp(data + pos, "MTrk", 4) == 0) {
            Track track;
            std::string trackError;
            if (!parseTrack(data + pos + 8, length, track, result, trackError)) {
                error = format("track %lld: ", (long long)result.tracks.size() + 1) + trackError;
                return false;
            }
            result.tracks.push_back(std::move(track));
        }
        // Chunks of other types are skipped, as the format asks.
        pos += 8 + size_t(length);
    }
    auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(result.tempos.begin(), result.tempos.end(), byTick);
    std::stable_sort(result.meters.begin(), result.meters.end(), byTick);
    song = std::move(result);
    return true;
}

bool read(const std::string& path, Song& song, std::string& error) {
    File f(fopen(path.c_str(), "rb"));
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> data;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f.get())) > 0) data.insert(data.end(), buffer, buffer + n);
    if (ferror(f.get())) {
        error = "cannot read " + path;
        return false;
    }
    if (!parse(data.data(), data.size(), song, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool serialize(const Song& song, std::vector<uint8_t>& out, std::string& error) {
    error.clear();
    if (song.format > 1) {
        error = format("cannot write MIDI file format %lld", song.format);
        return false;
    }
    if (song.division == 0 || (song.division & 0x8000)) {
        error = format("cannot write time division %lld", song.division);
        return false;
    }
    std::vector<std::vector<Item>> chunks(song.format == 0 ? 1 : std::max<size_t>(1, song.tracks.size()));
    std::vector<uint32_t> ends(chunks.size(), 0);
    size_t sequence = 0;
    addTempoMap(song, sequence, chunks[0]);
    for (size_t t = 0; t < song.tracks.size(); ++t) {
        size_t c = song.format == 0 ? 0 : t;
        for (const Event& e : song.tracks[t].events)
            if (!addEvent(e, sequence, chunks[c], error)) {
                error = format("track %lld: ", (long long)t + 1) + error;
                return false;
            }
        ends[c] = std::max(ends[c], song.tracks[t].endTick);
    }
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, uint8_t(song.format),
                                 uint8_t(chunks.size() >> 8), uint8_t(chunks.size()), uint8_t(song.division >> 8),
                                 uint8_t(song.division)};
    if (chunks.size() > 0xFFFF) {
        error = "too many tracks";
        return false;
    }
    for (size_t c = 0; c < chunks.size(); ++c) writeChunk(chunks[c], ends[c], file);
    out.swap(file);
    return true;
}

bool write(const std::string& path, const Song& song, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!serialize(song, bytes, error)) return false;
    std::string temporary = path + ".partial";
    {
        File f(fopen(temporary.c_str(), "wb"));
        if (!f) {
            error = "cannot create " + temporary;
            return false;
        }
        bool ok = fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
        ok = fflush(f.get()) == 0 && ok;
        if (!ok) {
            f.reset();
            DeleteFileA(temporary.c_str());
            error = "cannot write " + temporary;
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        error = "cannot rename " + temporary + " to " + path;
        return false;
    }
    return true;
}

}  // namespace midifile
