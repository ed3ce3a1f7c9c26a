#include "Render.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "ReferenceHost.h"
#include "Session.h"

namespace {

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

uint32_t songEnd(const midifile::Song& song) {
    uint32_t end = song.lastTick();
    for (const midifile::Track& t : song.tracks) end = std::max(end, t.endTick);
    return end;
}

// A bar on stderr once a render has taken half a second, redrawn ten times a second.
class ProgressBar {
public:
    void update(double share) {
        double t = now();
        if (start_ == 0) start_ = t;
        if (t - start_ < 0.5 || t - drawn_ < 0.1) return;
        drawn_ = t;
        int filled = int(share * 40 + 0.5);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(40 - filled), '-').c_str(), int(share * 100 + 0.5));
        std::fflush(stderr);
        shown_ = true;
    }
    void finish() {
        if (shown_) std::fprintf(stderr, "\r%50s\r", "");
        shown_ = false;
    }
    ~ProgressBar() { finish(); }

private:
    double start_ = 0, drawn_ = 0;
    bool shown_ = false;
};

bool stderrIsTerminal() { return GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR; }

}  // namespace

double secondsNow() { return now(); }

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

void loadTimeMap(ReferenceHost& host, const midifile::Song& song) {
    TimeMap& map = host.timeMap();
    map.clear();
    map.setTimeBase(song.division);
    for (const midifile::Tempo& t : song.tempos) {
        if (t.microsPerQuarter == 0 || t.tick > 0x7FFFFFFF) continue;
        // BPM × 100 = 6,000,000,000 / microseconds per quarter.
        int32_t tempo = int32_t(std::llround(6000000000.0 / double(t.microsPerQuarter)));
        map.addTempo(int32_t(t.tick), std::max(tempo, 1));
    }
    for (const midifile::TimeSignature& m : song.meters) {
        if (m.denominatorPower > 6 || m.tick > 0x7FFFFFFF) continue;
        map.addMeter(int32_t(m.tick), m.numerator, 1 << m.denominatorPower);
    }
}

std::vector<const midifile::Event*> playableEvents(const midifile::Song& song) {
    std::vector<const midifile::Event*> events;
    for (const midifile::Track& t : song.tracks)
        for (const midifile::Event& e : t.events)
            if (e.kind != midifile::EventKind::Meta) events.push_back(&e);
    std::stable_sort(events.begin(), events.end(),
                     [](const midifile::Event* a, const midifile::Event* b) { return a->tick < b->tick; });
    return events;
}

const char* notCarriedReason(const midifile::Event& e) {
    // The host's notes carry their ends: a note-off the reader could not pair has nothing to end.
    if (e.kind == midifile::EventKind::Channel && (e.status & 0xF0) == 0x80) return "note-offs without a sounding note";
    if (e.kind == midifile::EventKind::Sysex && e.bytes.empty()) return "empty sysex messages";
    return nullptr;
}

HostEvent newHostEvent(EventStore& store, const midifile::Event& e) {
    if (notCarriedReason(e)) return 0;
    int32_t tick = int32_t(e.tick);
    switch (e.kind) {
    case midifile::EventKind::Note:
        return store.newNote(tick, e.channel(), e.data1, e.data2, e.duration, e.releaseVelocity);
    case midifile::EventKind::Channel:
        return store.newEvent(tick, e.status, e.data1, e.data2);
    case midifile::EventKind::Sysex:
        return store.newSysex(tick, e.bytes);
    case midifile::EventKind::Meta:
        break;
    }
    return 0;
}

bool mfxRecord(const midifile::Event& e, MfxEvent& out) {
    std::memset(&out, 0, sizeof out);
    out.time = int32_t(e.tick);
    out.channel = e.channel();
    switch (e.kind) {
    case midifile::EventKind::Note:
        out.type = MfxNote;
        out.data[0] = e.data1;
        out.data[1] = e.data2;
        out.data[2] = e.releaseVelocity;
        mfxdata::setNoteDuration(out, e.duration);
        return true;
    case midifile::EventKind::Channel:
        switch (e.status & 0xF0) {
        case 0xA0: out.type = MfxKeyAftertouch; break;
        case 0xB0: out.type = MfxController; break;
        case 0xC0:
            out.type = MfxProgramChange;
            mfxdata::writeU16(out, 12, 0xFFFF);  // no bank
            break;
        case 0xD0:
            out.type = MfxChannelPressure;
            out.data[1] = e.data1;
            return true;
        case 0xE0:
            out.type = MfxPitchWheel;
            mfxdata::writeU16(out, 10, uint16_t(int16_t((e.data2 - 64) * 128 + e.data1)));
            return true;
        default: return false;
        }
        out.data[0] = e.data1;
        out.data[1] = (e.status & 0xF0) == 0xC0 ? 0 : e.data2;
        return true;
    default:
        return false;
    }
}

midifile::Track outputTrack(std::vector<EventData> events, uint32_t minEnd) {
    std::stable_sort(events.begin(), events.end(),
                     [](const EventData& a, const EventData& b) { return a.time < b.time; });
    midifile::Track track;
    std::map<int, std::deque<size_t>> open;  // channel * 128 + key -> notes without an end, oldest first
    uint32_t end = minEnd;
    for (const EventData& d : events) {
        midifile::Event e;
        e.tick = uint32_t(std::max(d.time, 0));
        uint8_t channel = uint8_t(d.channel < 0 ? 0 : d.channel & 0x0F);
        uint8_t data1 = uint8_t(d.data1 & 0x7F), data2 = uint8_t(d.data2 & 0x7F);
        bool noteOff = d.kind == 0x80 || (d.kind == 0x90 && data2 == 0);
        if (noteOff) {
            auto& waiting = open[channel * 128 + data1];
            if (!waiting.empty()) {
                midifile::Event& note = track.events[waiting.front()];
                waiting.pop_front();
                note.duration = e.tick - note.tick;
                note.releaseVelocity = uint8_t((d.kind == 0x80 ? d.data2 : d.releaseVelocity) & 0x7F);
                end = std::max(end, e.tick);
                continue;
            }
            e.kind = midifile::EventKind::Channel;
            e.status = uint8_t(0x80 | channel);
            e.data1 = data1;
            e.data2 = uint8_t((d.kind == 0x80 ? d.data2 : d.releaseVelocity) & 0x7F);
        } else if (d.kind == 0x90) {
            e.kind = midifile::EventKind::Note;
            e.status = uint8_t(0x90 | channel);
            e.data1 = data1;
            e.data2 = data2;
            e.duration = d.duration;
            e.releaseVelocity = uint8_t(d.releaseVelocity & 0x7F);
            if (d.duration == 0) open[channel * 128 + data1].push_back(track.events.size());
        } else if (d.kind >= 0xA0 && d.kind <= 0xE0 && (d.kind & 0x0F) == 0) {
            e.kind = midifile::EventKind::Channel;
            e.status = uint8_t(d.kind | channel);
            e.data1 = data1;
            e.data2 = (d.kind == 0xC0 || d.kind == 0xD0) ? 0 : data2;
        } else if (d.kind == 0xF0 && !d.sysex.empty()) {
            e.kind = midifile::EventKind::Sysex;
            e.status = d.sysex[0] == 0xF0 ? 0xF0 : 0xF7;
            e.bytes = d.sysex;
        } else {
            continue;  // nothing a file can hold
        }
        end = std::max(end, e.tick + (e.kind == midifile::EventKind::Note ? e.duration : 0));
        track.events.push_back(std::move(e));
    }
    track.endTick = end;
    return track;
}

midifile::Song outputSong(const midifile::Song& input, midifile::Track track) {
    midifile::Song out;
    out.format = 1;
    out.division = input.division;
    out.tempos = input.tempos;
    out.meters = input.meters;
    midifile::Track tempoTrack;
    if (!input.tracks.empty()) {
        for (const midifile::Event& e : input.tracks[0].events)
            if (e.kind == midifile::EventKind::Meta) tempoTrack.events.push_back(e);
        tempoTrack.endTick = input.tracks[0].endTick;
    }
    out.tracks.push_back(std::move(tempoTrack));
    out.tracks.push_back(std::move(track));
    return out;
}

bool renderSong(IMidiModule* module, ReferenceHost& host, const midifile::Song& song, const RenderSettings& settings,
                RenderResult& result, std::string& error) {
    result = RenderResult();
    const int32_t block = settings.block > 0 ? settings.block : std::max<int32_t>(1, song.division / 4);
    const uint32_t length = songEnd(song);
    int64_t end = length;
    const int64_t loopEnd = int64_t(settings.loopStart) + settings.loopLength;
    int32_t jumpsLeft = settings.loop ? settings.loopTimes - 1 : 0;
    if (settings.loop) end = std::max(end, loopEnd);
    const char* tooLong = "the song is too long for the host's 32-bit event times";
    if (end + int64_t(jumpsLeft) * settings.loopLength > 0x7FFFFFFF) {
        error = tooLong;
        return false;
    }
    loadTimeMap(host, song);
    EventStore& store = host.events();
    const std::vector<const midifile::Event*> events = playableEvents(song);
    for (const midifile::Event* e : events)
        if (const char* why = notCarriedReason(*e)) ++result.notCarried[why];

    std::vector<EventData> collected;
    auto collect = [&](int64_t shift) {
        for (OutputRecord& r : store.takeOutput()) {
            if (settings.inspect) settings.inspect(r.event);
            r.event.time = int32_t(std::min<int64_t>(r.event.time + shift, 0x7FFFFFFF));
            collected.push_back(std::move(r.event));
            ++result.eventsOut;
        }
    };

    const int64_t barTicks = [&] {
        TimeMap::Meter m = host.timeMap().meterAt(int32_t(end));
        return std::max<int64_t>(1, int64_t(m.numerator) * song.division * 4 / std::max(m.denominator, 1));
    }();
    int64_t fixedTailEnd = end;
    if (!settings.tailUntilQuiet) {
        const Duration& d = settings.tail;
        if (d.unit == Duration::Unit::Bars) {
            fixedTailEnd = end + std::llround(d.bars * double(barTicks));
        } else if (d.micros > 0) {
            int64_t at = int64_t(host.timeMap().timeToRealTime(int32_t(end))) + d.micros;
            fixedTailEnd = at > 0x7FFFFFFF ? INT64_MAX : host.timeMap().realTimeToTime(int32_t(at));
        }
    }
    // Where the tail ends, given the tick of the last output; fixed tails ignore it.
    auto tailEnd = [&](int64_t lastOutput) {
        if (!settings.tailUntilQuiet) return fixedTailEnd;
        return std::min(std::max<int64_t>(lastOutput, end) + barTicks, end + 8 * barTicks);
    };
    const int64_t longest = settings.tailUntilQuiet ? end + 8 * barTicks : fixedTailEnd;
    if (longest + int64_t(jumpsLeft) * settings.loopLength > 0x7FFFFFFF) {
        error = std::string(tooLong) + " with its tail";
        return false;
    }

    double started = now();
    module->start(0);
    int64_t shift = 0;  // how far the current pass lies behind the played-out time line
    size_t next = 0;
    int32_t pos = 0;
    uint64_t blocks = 0;
    std::vector<HostEvent> blockEvents;
    // One block: its events in, process, idle calls, output collected; true when there was output.
    auto play = [&](int32_t to) {
        host.setPosition(pos);
        blockEvents.clear();
        for (; next < events.size() && int64_t(events[next]->tick) < to; ++next)
            if (HostEvent h = newHostEvent(store, *events[next])) blockEvents.push_back(h);
        double entered = now();
        for (HostEvent h : blockEvents) module->onEvent(h);
        module->process(pos, to, 0);
        for (int32_t i = 0; i < settings.idleCalls; ++i) module->process(0, 0, 1);
        result.moduleSeconds += now() - entered;
        for (HostEvent h : blockEvents) store.discard(h);  // the module keeps its own copies
        result.eventsIn += blockEvents.size();
        result.processCalls += 1 + uint64_t(settings.idleCalls);
        const uint64_t before = result.eventsOut;
        collect(shift);
        if (settings.progress && (++blocks & 63) == 0)
            settings.progress(end > 0 ? std::min(1.0, double(pos) / double(end)) : 1.0);  // the tail counts as done
        return result.eventsOut > before;
    };
    while (pos < end) {
        int32_t to = int32_t(std::min<int64_t>(int64_t(pos) + block, end));
        if (jumpsLeft > 0 && pos < loopEnd) to = int32_t(std::min<int64_t>(to, loopEnd));
        play(to);
        if (jumpsLeft > 0 && to == loopEnd) {
            module->cycleJump(settings.loopStart, settings.loopLength);
            --jumpsLeft;
            shift += settings.loopLength;
            pos = settings.loopStart;
            next = size_t(std::lower_bound(events.begin(), events.end(), uint32_t(pos),
                                           [](const midifile::Event* e, uint32_t t) { return e->tick < t; }) -
                          events.begin());
            continue;
        }
        pos = to;
    }
    // Repeats and releases the filter still holds come out in the tail.
    int64_t lastOutput = end;
    while (pos < tailEnd(lastOutput)) {
        int32_t to = int32_t(std::min<int64_t>(int64_t(pos) + block, tailEnd(lastOutput)));
        if (play(to)) lastOutput = to;
        pos = to;
    }
    host.setPosition(pos);
    double entered = now();
    module->stop(pos);
    // The stop's output comes at the next idle call, timed from the stop.
    for (int32_t i = 0; i < 2; ++i) module->process(0, 0, 1);
    result.moduleSeconds += now() - entered;
    result.processCalls += 2;
    collect(shift + pos);
    result.seconds = now() - started;

    result.tailTicks = uint32_t(pos - end);
    result.songTicks = length;
    result.songMicros = host.timeMap().timeToRealTime(int32_t(std::min<uint32_t>(length, 0x7FFFFFFF)));
    uint32_t minEnd = uint32_t(pos + shift);
    result.output = outputSong(song, outputTrack(std::move(collected), minEnd));
    return true;
}

int runRender(const Options& o) {
    std::string error;
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "palisander-host: %s\n", message.c_str());
        return 1;
    };
    midifile::Song song;
    if (!midifile::read(o.input, song, error)) return fail(o.input + ": " + error);
    std::vector<uint8_t> state;
    if (!o.stateIn.empty()) {
        if (!readFileBytes(o.stateIn, state, error)) return fail(error);
        if (state.empty()) return fail("the state file " + o.stateIn + " is empty");
    }
    Session session;
    if (!session.open(o.modulePath, o.filter, error)) return fail(error);
    if (!o.stateIn.empty() && !session.setState(state, error)) return fail(error + " in " + o.stateIn);

    RenderSettings settings;
    settings.block = o.block;
    settings.loop = o.loop;
    settings.loopStart = o.loopStart;
    settings.loopLength = o.loopLength;
    settings.loopTimes = o.loopTimes;
    settings.tailUntilQuiet = !o.tailSet;
    settings.tail = o.tail;
    ProgressBar bar;
    if (stderrIsTerminal()) settings.progress = [&bar](double share) { bar.update(share); };
    RenderResult result;
    bool rendered = renderSong(session.module(), *session.host(), song, settings, result, error);
    bar.finish();
    if (!rendered) return fail(error);

    std::vector<uint8_t> saved;
    if (!o.stateOut.empty() && !session.getState(saved, error)) return fail(error);
    if (!midifile::write(o.output, result.output, error)) return fail(o.output + ": " + error);
    if (!o.stateOut.empty() && !writeFileAtomically(o.stateOut, saved, error)) return fail(error);

    double songSeconds = double(result.songMicros) / 1e6;
    double rate = result.seconds > 0 ? double(result.eventsIn) / result.seconds : 0;
    std::string dropped;
    uint64_t droppedCount = 0;
    for (const auto& reason : result.notCarried) {
        dropped += (dropped.empty() ? "" : ", ") + std::to_string(reason.second) + " " + reason.first;
        droppedCount += reason.second;
    }
    if (droppedCount) dropped = "; " + std::to_string(droppedCount) + " input events not carried (" + dropped + ")";
    std::printf("%s -> %s through \"%s\": %llu events in, %llu out, song %d:%04.1f (%lu ticks) + tail %lu ticks, "
                "rendered in %.1f ms, %.0f events/s%s\n",
                o.input.c_str(), o.output.c_str(), session.filterClass().name.c_str(),
                (unsigned long long)result.eventsIn, (unsigned long long)result.eventsOut, int(songSeconds / 60),
                std::fmod(songSeconds, 60.0), (unsigned long)result.songTicks, (unsigned long)result.tailTicks,
                result.seconds * 1000, rate, dropped.c_str());
    return 0;
}
