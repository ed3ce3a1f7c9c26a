#include "Validate.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>

#include "Editor.h"
#include "ReferenceHost.h"
#include "Render.h"
#include "Session.h"
#include "WarningCatcher.h"
#include "guard/Guard.h"
#include "services/RecordList.h"
#include "interfaces/ComExtras.h"

using json = nlohmann::json;

namespace {

// ---- what went wrong, in words ---------------------------------------------

std::string hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", (unsigned long)v);
    return text;
}

// "an access violation (0xC0000005)"
std::string exceptionText(DWORD code) {
    static const struct {
        DWORD code;
        const char* name;
    } names[] = {
        {0xC0000005, "an access violation"},      {0xE06D7363, "a C++ exception"},
        {0xC00000FD, "a stack overflow"},         {0xC0000094, "an integer division by zero"},
        {0xC000001D, "an illegal instruction"},   {0xC0000096, "a privileged instruction"},
        {0xC0000409, "a stack buffer overrun"},   {0xC0000374, "a heap corruption"},
        {0x80000003, "a breakpoint"},             {0xC000008E, "a floating-point division by zero"},
        {0xC0000025, "a noncontinuable exception"}, {0xC0000008, "an invalid handle"},
    };
    for (const auto& n : names)
        if (n.code == code) return std::string(n.name) + " (" + hex32(code) + ")";
    return "exception " + hex32(code);
}

std::string moduleName(HMODULE module) {
    char path[MAX_PATH] = {};
    if (!module || !GetModuleFileNameA(module, path, MAX_PATH)) return "";
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

HMODULE moduleOf(const void* address) {
    HMODULE m = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &m);
    return m;
}

void say(const json& line) {
    std::fputs((line.dump() + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// ---- exceptions that escape a filter inside the module ---------------------

// A vectored handler sees every exception first. One counts when the innermost SEH frame
// is the module's guard: then no frame of the filter's can catch it, and the module will.
// An exception with a frame of the filter's own innermost is the filter's business.
class EscapeWatch {
public:
    static void install(const std::string& moduleFile) {
        const char* slash = std::strrchr(moduleFile.c_str(), '\\');
        std::string base = slash ? slash + 1 : moduleFile;
        std::snprintf(moduleBase_, sizeof moduleBase_, "%s", base.c_str());
        AddVectoredExceptionHandler(1, &EscapeWatch::handler);
    }
    static int32_t count() { return count_; }
    static DWORD lastCode() { return code_; }
    static const char* lastWhere() { return where_; }

private:
    static LONG CALLBACK handler(EXCEPTION_POINTERS* info) {
        DWORD code = info->ExceptionRecord->ExceptionCode;
        if ((code & 0xC0000000) != 0xC0000000) return EXCEPTION_CONTINUE_SEARCH;  // not an error
        EXCEPTION_REGISTRATION_RECORD* head;
        __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
        if (!head || head == reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(-1)) return EXCEPTION_CONTINUE_SEARCH;
        if (_stricmp(moduleName(moduleOf(reinterpret_cast<void*>(head->Handler))).c_str(), moduleBase_) != 0)
            return EXCEPTION_CONTINUE_SEARCH;
        ++count_;
        code_ = code;
        std::snprintf(where_, sizeof where_, "%s",
                      moduleName(moduleOf(info->ExceptionRecord->ExceptionAddress)).c_str());
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static char moduleBase_[MAX_PATH];
    static volatile int32_t count_;
    static DWORD code_;
    static char where_[MAX_PATH];
};
char EscapeWatch::moduleBase_[MAX_PATH] = {};
volatile int32_t EscapeWatch::count_ = 0;
DWORD EscapeWatch::code_ = 0;
char EscapeWatch::where_[MAX_PATH] = {};

// ---- seeded input ------------------------------------------------------------

typedef std::mt19937 Random;

int32_t pick(Random& r, int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(r); }

// Every kind of event on all 16 channels: notes with durations, controllers, program
// changes, pressure, pitch wheel with its extremes, sysex.
midifile::Song seededSong(uint32_t seed, int32_t count, int32_t spacing = 16) {
    Random r(seed);
    midifile::Song song;
    song.format = 0;
    song.division = 480;
    song.tracks.resize(1);
    std::vector<midifile::Event>& events = song.tracks[0].events;
    uint32_t tick = 0;
    for (int32_t i = 0; i < count; ++i) {
        tick += uint32_t(pick(r, 0, spacing));
        midifile::Event e;
        e.tick = tick;
        uint8_t channel = uint8_t(pick(r, 0, 15));
        int32_t kind = pick(r, 0, 15);
        e.kind = midifile::EventKind::Channel;
        e.data1 = uint8_t(pick(r, 0, 127));
        e.data2 = uint8_t(pick(r, 0, 127));
        if (kind < 7) {
            e.kind = midifile::EventKind::Note;
            e.status = uint8_t(0x90 | channel);
            e.data2 = uint8_t(pick(r, 1, 127));
            e.releaseVelocity = uint8_t(pick(r, 0, 127));
            e.duration = uint32_t(pick(r, 1, 960));
        } else if (kind < 10) {
            e.status = uint8_t(0xB0 | channel);
        } else if (kind == 10) {
            e.status = uint8_t(0xC0 | channel);
            e.data2 = 0;
        } else if (kind == 11) {
            e.status = uint8_t(0xD0 | channel);
            e.data2 = 0;
        } else if (kind == 12) {
            e.status = uint8_t(0xA0 | channel);
        } else if (kind == 13) {
            e.status = uint8_t(0xE0 | channel);
            static const uint8_t extremes[3][2] = {{0, 0}, {0, 64}, {127, 127}};
            int32_t x = pick(r, 0, 3);
            if (x < 3) {
                e.data1 = extremes[x][0];
                e.data2 = extremes[x][1];
            }
        } else {
            e.kind = midifile::EventKind::Sysex;
            e.status = 0xF0;
            e.bytes = {0xF0, 0x7D};
            for (int32_t n = pick(r, 1, 48); n > 0; --n) e.bytes.push_back(uint8_t(pick(r, 0, 127)));
            e.bytes.push_back(0xF7);
        }
        events.push_back(std::move(e));
    }
    song.tracks[0].endTick = song.lastTick();
    return song;
}

// Live input: channel messages, every note-on followed later by its note-off.
std::vector<MidiMessage> seededMessages(uint32_t seed, int32_t count) {
    Random r(seed);
    std::vector<MidiMessage> out;
    std::vector<MidiMessage> sounding;
    for (int32_t i = 0; i < count; ++i) {
        MidiMessage m;
        uint8_t channel = uint8_t(pick(r, 0, 15));
        int32_t kind = pick(r, 0, 9);
        if (kind < 4) {
            m.status = uint8_t(0x90 | channel);
            m.data1 = uint8_t(pick(r, 0, 127));
            m.data2 = uint8_t(pick(r, 1, 127));
            sounding.push_back({uint8_t(0x80 | channel), m.data1, uint8_t(pick(r, 0, 127))});
        } else if (kind < 6 && !sounding.empty()) {
            m = sounding.front();
            sounding.erase(sounding.begin());
        } else {
            static const uint8_t kinds[] = {0xA0, 0xB0, 0xC0, 0xD0, 0xE0};
            m.status = uint8_t(kinds[pick(r, 0, 4)] | channel);
            m.data1 = uint8_t(pick(r, 0, 127));
            m.data2 = dataByteCount(m.status) == 2 ? uint8_t(pick(r, 0, 127)) : 0;
        }
        out.push_back(m);
    }
    out.insert(out.end(), sounding.begin(), sounding.end());
    return out;
}

// A host's transport: ranges of every length, stops, repositions and cycle jumps.
struct TransportOp {
    enum Kind { Range, Stop, Reposition, Cycle, Idle } kind;
    int32_t a = 0, b = 0;  // Range: from, to; Stop: time; Cycle: start, length
};

std::vector<TransportOp> seededTransport(uint32_t seed, int32_t count) {
    Random r(seed);
    std::vector<TransportOp> ops;
    int32_t pos = 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t k = pick(r, 0, 19);
        TransportOp op{TransportOp::Range};
        if (k < 12) {
            static const int32_t lengths[] = {0, 1, 7, 120, 480, 1920};
            int32_t length = k < 9 ? lengths[pick(r, 0, 5)] : pick(r, 1, 4000);
            op = {TransportOp::Range, pos, pos + length};
            pos += length;
        } else if (k < 14) {
            op = {TransportOp::Stop, pos};
        } else if (k < 16) {
            op = {TransportOp::Reposition};
            pos = pick(r, 0, pos);
        } else if (k < 18) {
            int32_t start = pick(r, 0, pos);
            op = {TransportOp::Cycle, start, pick(r, 1, 1920)};
            pos = start;
        } else {
            op = {TransportOp::Idle};
        }
        ops.push_back(op);
    }
    return ops;
}

// State blocks a host might hand over after a crash or from a foreign project.
std::vector<std::vector<uint8_t>> seededStates(uint32_t seed, const std::vector<uint8_t>& real, int32_t count) {
    Random r(seed);
    std::vector<std::vector<uint8_t>> blocks;
    for (int32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> b;
        int32_t k = real.empty() ? 0 : pick(r, 0, 3);
        if (k == 0) {
            b.resize(size_t(pick(r, 1, 4096)));
            for (uint8_t& x : b) x = uint8_t(pick(r, 0, 255));
        } else if (k == 1) {
            b.assign(real.begin(), real.begin() + pick(r, 1, int32_t(real.size())));
        } else if (k == 2) {
            b = real;
            for (int32_t n = pick(r, 1, 4); n > 0; --n) b[size_t(pick(r, 0, int32_t(b.size()) - 1))] ^= uint8_t(1 << pick(r, 0, 7));
        } else {
            b = real;
            for (int32_t n = pick(r, 1, 64); n > 0; --n) b.push_back(uint8_t(pick(r, 0, 255)));
        }
        blocks.push_back(std::move(b));
    }
    blocks.push_back(std::vector<uint8_t>(1 << 20, 0xFF));
    return blocks;
}

// Events at the edges: silent and loudest notes, the longest durations, odd sysex, negative times.
midifile::Song oddSong() {
    midifile::Song song;
    song.tracks.resize(1);
    auto add = [&](uint32_t tick, midifile::EventKind kind, uint8_t status, uint8_t d1, uint8_t d2, uint32_t duration) {
        midifile::Event e;
        e.tick = tick;
        e.kind = kind;
        e.status = status;
        e.data1 = d1;
        e.data2 = d2;
        e.duration = duration;
        song.tracks[0].events.push_back(e);
    };
    using K = midifile::EventKind;
    add(0, K::Note, 0x90, 0, 1, 1);
    add(0, K::Note, 0x9F, 127, 127, 0x7FFFFFFF);
    add(1, K::Note, 0x95, 64, 127, 1);
    add(2, K::Channel, 0xE0, 0, 0, 0);
    add(2, K::Channel, 0xEF, 127, 127, 0);
    add(3, K::Channel, 0xBF, 127, 127, 0);
    add(3, K::Channel, 0xCF, 127, 0, 0);
    // Odd but whole: a filter that passes on what it got must not fail for the input's sake.
    for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{0xF0, 0xF7}, std::vector<uint8_t>(65536, 0x11)}) {
        midifile::Event e;
        e.tick = 4;
        e.kind = K::Sysex;
        e.status = 0xF0;
        e.bytes = bytes;
        if (e.bytes.size() > 2) {
            e.bytes.front() = 0xF0;
            e.bytes.back() = 0xF7;
        }
        song.tracks[0].events.push_back(e);
    }
    return song;
}

// ---- the checks, through the module ----------------------------------------

struct Round {
    Round(const Options& o, uint32_t s) : options(o), seed(s) {}
    const Options& options;
    uint32_t seed;
    std::string reason;   // PASS: what was done; FAIL/SKIP: why
    bool skipped = false;
    bool exception = false;  // failed by an exception: worth naming the call directly
    json details = json::object();

    bool fail(const std::string& why) {
        reason = why;
        return false;
    }
    bool skip(const std::string& why) {
        skipped = true;
        reason = why;
        return true;
    }
    // Runs one step of the check; false when the filter raised an exception in it.
    template <class F>
    bool step(const std::string& what, F&& fn) {
        say({{"step", what}});
        int32_t before = EscapeWatch::count();
        fn();
        if (EscapeWatch::count() == before) return true;
        exception = true;
        std::string where = EscapeWatch::lastWhere();
        return fail("the filter raised " + exceptionText(EscapeWatch::lastCode()) +
                    (where.empty() ? "" : " in " + where) + " during " + what + "; the module caught it");
    }
};

bool openSession(Round& r, Session& session) {
    std::string error;
    bool opened = false;
    if (!r.step("loading the module and creating the filter",
                [&] { opened = session.open(r.options.modulePath, r.options.filter, error); }))
        return false;
    if (!opened && error.compare(0, 9, "no filter") == 0)
        error += "; a filter whose probe failed once stays out until \"palisander-host forget\" clears its verdict";
    return opened || r.fail(error);
}

// What the output of a run showed: malformed events and notes left sounding.
struct OutputCheck {
    int64_t events = 0;
    int64_t malformed = 0;
    std::string firstMalformed;
    NoteBalance notes;

    void see(const EventData& e) {
        ++events;
        std::string why = malformedEvent(e);
        if (!why.empty() && malformed++ == 0) firstMalformed = why;
        notes.add(e);
    }
    void seeAll(EventStore& store) {
        for (const OutputRecord& r : store.takeOutput()) see(r.event);
    }
    bool judge(Round& r, Session& session) {
        if (malformed)
            return r.fail(std::to_string(malformed) + " of " + std::to_string(events) +
                          " output events were malformed, the first: " + firstMalformed);
        if (notes.sounding())
            return r.fail(std::to_string(notes.sounding()) + " notes the filter started were never ended, the first: " +
                          notes.first());
        session.close();
        std::string problems = accountingProblems(session.host()->events());
        return problems.empty() || r.fail("the host's account of events: " + problems);
    }
};

bool loadCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    const PluginClass& cls = session.filterClass();
    r.details["name"] = cls.name;
    r.details["clsid"] = guidText(cls.classId);
    // Create and release without initialize, as the module's own probe does, twice.
    for (int i = 0; i < 2; ++i) {
        std::string error;
        IMidiModule* bare = nullptr;
        if (!r.step("create and release", [&] {
                bare = session.loader().create(cls, &error);
                if (bare) bare->Release();
            }))
            return false;
        if (!bare) return r.fail(error);
    }
    ModuleInfo info = {sizeof(ModuleInfo), int32_t(0xCAFECAFE)};
    HRESULT hr = session.module()->getInfo(&info);
    if (hr != S_OK || (info.hasEditor != 0 && info.hasEditor != 1))
        return r.fail("getInfo answered " + hex32(uint32_t(hr)) + " with hasEditor " + std::to_string(info.hasEditor));
    r.details["hasEditor"] = info.hasEditor == 1;
    ComRef<IStatePersistence> state(session.query<IStatePersistence>(hostid::IStatePersistence));
    GUID id;
    std::memset(&id, 0xCA, sizeof id);
    if (!state || state->getClassId(reinterpret_cast<uint8_t*>(&id)) != 0 || !IsEqualGUID(id, cls.classId))
        return r.fail("getClassId did not give the class's CLSID " + guidText(cls.classId));
    state.reset();
    HRESULT terminated = S_OK;
    if (!r.step("terminate and initialize again", [&] {
            terminated = session.module()->terminate();
            if (terminated == S_OK) terminated = session.module()->initialize(session.host()->context());
        }))
        return false;
    if (terminated != S_OK) return r.fail("terminate and initialize again answered " + hex32(uint32_t(terminated)));
    if (!r.step("terminate and release", [&] { session.close(); })) return false;
    std::string problems = accountingProblems(session.host()->events());
    if (!problems.empty()) return r.fail("the host's account of events: " + problems);
    r.reason = "offered as \"" + cls.name + "\" " + guidText(cls.classId) +
               "; created, initialised, terminated, released; class id matches";
    return true;
}

const int32_t kBlockSizes[] = {1, 7, 120, 480, 1920};

bool sequencedCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    OutputCheck out;
    int64_t in = 0;
    for (int32_t block : kBlockSizes) {
        midifile::Song song = seededSong(r.seed + uint32_t(block), block == 1 ? 200 : 1500);
        RenderSettings settings;
        settings.block = block;
        settings.inspect = [&](const EventData& e) { out.see(e); };
        RenderResult result;
        std::string error;
        bool rendered = false;
        if (!r.step("ranges of " + std::to_string(block) + " ticks",
                    [&] { rendered = renderSong(session.module(), *session.host(), song, settings, result, error); }))
            return false;
        if (!rendered) return r.fail(error);
        in += int64_t(result.eventsIn);
    }
    if (!out.judge(r, session)) return false;
    r.details["eventsIn"] = in;
    r.details["eventsOut"] = out.events;
    r.reason = std::to_string(in) + " events of every kind on 16 channels in ranges of 1 to 1920 ticks, " +
               std::to_string(out.events) + " out, well-formed; every event given back once";
    return true;
}

bool liveCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    EventStore& store = session.host()->events();
    OutputCheck out;
    std::vector<MidiMessage> messages = seededMessages(r.seed, 2000);
    if (!r.step("live messages", [&] {
            for (size_t i = 0; i < messages.size(); ++i) {
                const MidiMessage& m = messages[i];
                HostEvent h = store.newEvent(0, m.status, m.data1, m.data2);
                store.markLive(h, true);
                session.module()->onEvent(h);
                store.discard(h);
                if (i % 16 == 15) session.module()->process(0, 0, 1);
                out.seeAll(store);
            }
            for (int i = 0; i < 4; ++i) session.module()->process(0, 0, 1);
            out.seeAll(store);
        }))
        return false;
    if (!out.judge(r, session)) return false;
    r.reason = std::to_string(messages.size()) + " live messages, " + std::to_string(out.events) +
               " out at once, well-formed; every event given back once";
    return true;
}

// Plays the transport sequence with events in every range (the same events each time for one seed).
void playTransport(Session& session, const std::vector<TransportOp>& ops, uint32_t seed, OutputCheck& out) {
    EventStore& store = session.host()->events();
    IMidiModule* m = session.module();
    Random r(seed);
    for (const TransportOp& op : ops) {
        switch (op.kind) {
        case TransportOp::Range: {
            std::vector<HostEvent> made;
            for (int32_t n = op.b > op.a ? pick(r, 0, 6) : 0; n > 0; --n) {
                int32_t t = pick(r, op.a, op.b - 1);
                made.push_back(pick(r, 0, 1) ? store.newNote(t, pick(r, 0, 15), uint32_t(pick(r, 0, 127)),
                                                             uint32_t(pick(r, 1, 127)), uint32_t(pick(r, 1, 960)))
                                             : store.newEvent(t, uint32_t(0xB0 | pick(r, 0, 15)), 7,
                                                              uint32_t(pick(r, 0, 127))));
            }
            session.host()->setPosition(op.a);
            for (HostEvent h : made) m->onEvent(h);
            m->process(op.a, op.b, 0);
            m->process(0, 0, 1);
            for (HostEvent h : made) store.discard(h);
            break;
        }
        case TransportOp::Stop:
            m->stop(op.a);
            m->process(0, 0, 1);
            break;
        case TransportOp::Reposition: m->reposition(0); break;
        case TransportOp::Cycle: m->cycleJump(op.a, op.b); break;
        case TransportOp::Idle: m->process(0, 0, 1); break;
        }
        out.seeAll(store);
    }
    m->stop(0);
    m->process(0, 0, 1);
    out.seeAll(store);
}

bool transportCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    OutputCheck out;
    std::vector<TransportOp> ops = seededTransport(r.seed, 1500);
    if (!r.step("starts, stops, repositions and cycle jumps", [&] { playTransport(session, ops, r.seed, out); }))
        return false;
    if (!out.judge(r, session)) return false;
    r.reason = std::to_string(ops.size()) + " transport steps (ranges of 0 to 4000 ticks, stops, repositions, cycle jumps), " +
               std::to_string(out.events) + " events out; every event given back once";
    return true;
}

// The filter's saved state, or a skip when it keeps none.
bool savedState(Round& r, Session& session, std::vector<uint8_t>& state) {
    std::string error;
    bool saved = false;
    if (!r.step("getState", [&] { saved = session.getState(state, error); })) return false;
    if (saved) return true;
    ComRef<IUnknown> direct;
    ComRef<IUnknown> persist;
    if (CoCreateInstance(session.filterClass().classId, nullptr, CLSCTX_INPROC_SERVER, comid::IUnknown, direct.putVoid()) ==
            S_OK &&
        direct->QueryInterface(comid::IPersistStream, persist.putVoid()) != S_OK)
        return r.skip("the filter keeps no state (it has no IPersistStream)");
    return r.fail(error);
}

std::string firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return "saved " + std::to_string(a.size()) + " bytes, restored them, then saved " + std::to_string(b.size()) +
           " bytes that differ from byte " + std::to_string(i);
}

bool stateCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    std::vector<uint8_t> first, second;
    if (!savedState(r, session, first)) return false;
    if (r.skipped) return true;
    std::string error;
    bool restored = false;
    if (!r.step("setState", [&] { restored = session.setState(first, error); })) return false;
    if (!restored) return r.fail("setState refused the filter's own state of " + std::to_string(first.size()) + " bytes");
    if (!savedState(r, session, second)) return false;
    if (first != second) return r.fail("the state did not round-trip: " + firstDifference(first, second));
    r.reason = "getState, setState, getState: the same " + std::to_string(first.size()) + " bytes";
    return true;
}

// Everything a song's playing output, in order, for comparing two instances.
std::vector<EventData> playedOutput(Round& r, Session& session, const midifile::Song& song, bool& ok) {
    std::vector<EventData> events;
    RenderSettings settings;
    settings.block = 120;
    settings.inspect = [&](const EventData& e) { events.push_back(e); };
    RenderResult result;
    std::string error;
    ok = r.step("playing", [&] { renderSong(session.module(), *session.host(), song, settings, result, error); });
    return events;
}

bool sameEvent(const EventData& a, const EventData& b) {
    return a.kind == b.kind && a.channel == b.channel && a.data1 == b.data1 && a.data2 == b.data2 &&
           a.time == b.time && a.duration == b.duration && a.releaseVelocity == b.releaseVelocity && a.sysex == b.sysex;
}

bool freshInstanceCheck(Round& r) {
    Session original, fresh;
    if (!openSession(r, original) || !openSession(r, fresh)) return false;
    std::vector<uint8_t> state;
    if (!savedState(r, original, state)) return false;
    if (r.skipped) return true;
    std::string error;
    bool restored = false;
    if (!r.step("setState on a fresh instance", [&] { restored = fresh.setState(state, error); })) return false;
    if (!restored) return r.fail("a fresh instance refused the state of " + std::to_string(state.size()) + " bytes");
    midifile::Song song = seededSong(r.seed, 1500);
    bool ok1 = false, ok2 = false;
    std::vector<EventData> a = playedOutput(r, original, song, ok1);
    if (!ok1) return false;
    std::vector<EventData> b = playedOutput(r, fresh, song, ok2);
    if (!ok2) return false;
    size_t i = 0;
    while (i < a.size() && i < b.size() && sameEvent(a[i], b[i])) ++i;
    if (i < a.size() || i < b.size())
        return r.fail("the instance given the state played differently from the one it came from: " +
                      std::to_string(a.size()) + " and " + std::to_string(b.size()) + " events out, apart from #" +
                      std::to_string(i));
    r.reason = "a fresh instance given the " + std::to_string(state.size()) + "-byte state played the same " +
               std::to_string(a.size()) + " events as the instance it came from";
    return true;
}

// The system's input-method windows come with a thread's first window and stay: not counted.
BOOL CALLBACK countWindow(HWND window, LPARAM count) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "IME") != 0 && std::strcmp(name, "MSCTFIME UI") != 0) ++*reinterpret_cast<int32_t*>(count);
    return TRUE;
}

int32_t childWindows(HWND parent) {
    int32_t n = 0;
    EnumChildWindows(parent, countWindow, reinterpret_cast<LPARAM>(&n));
    return n;
}

int32_t threadWindows() {
    int32_t n = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindow, reinterpret_cast<LPARAM>(&n));
    return n;
}

bool editorCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    ModuleInfo info = {sizeof(ModuleInfo), 0};
    session.module()->getInfo(&info);
    if (info.hasEditor != 1) return r.skip("the filter has no property pages");
    // Without a display (Wine with no X server) no host window can be made: not the filter's fault.
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return r.skip("no window can be created here (no display)");
    DestroyWindow(probe);
    int32_t windowsBefore = threadWindows();
    const int32_t kRounds = 4;
    {
        EditorFrame frame;
        std::string error;
        bool opened = false;
        if (!r.step("the editor template and createView", [&] { opened = frame.open(session, error); })) return false;
        if (!opened) return r.fail(error);
        const TemplateView& page = frame.pageView();
        r.details["page"] = {page.width, page.height};
        if (page.width < 1 || page.height < 1 || page.width > 4096 || page.height > 4096)
            return r.fail("the page asks for " + std::to_string(page.width) + " x " + std::to_string(page.height) +
                          " pixels");
        ShowWindow(frame.window(), SW_SHOWNOACTIVATE);
        for (int32_t i = 0; i < kRounds; ++i) {
            HRESULT attached = E_FAIL;
            int32_t shown = 0, left = 0;
            if (!r.step("attaching the page", [&] {
                    attached = frame.view()->attachToParent(frame.pane());
                    pumpMessages(30);
                    shown = childWindows(frame.pane());
                    frame.view()->forwardKey('a', 0, 0);
                    frame.view()->forwardKey(0, 11, 0);
                    pumpMessages(10);
                }))
                return false;
            if (attached != S_OK) return r.fail("attachToParent answered " + hex32(uint32_t(attached)));
            if (shown == 0) return r.fail("the page showed no window in the host's window");
            if (!r.step("detaching the page", [&] {
                    frame.view()->detachFromParent();
                    pumpMessages(30);
                    left = childWindows(frame.pane());
                }))
                return false;
            if (left) return r.fail("the page left " + std::to_string(left) + " windows in the host's window after detach");
        }
    }
    pumpMessages(30);
    int32_t windowsAfter = threadWindows();
    if (windowsAfter > windowsBefore)
        return r.fail(std::to_string(windowsAfter - windowsBefore) + " windows of the editor outlived it");
    if (!r.step("terminate and release", [&] { session.close(); })) return false;
    r.reason = "template with a " + std::to_string(int(r.details["page"][0])) + " x " +
               std::to_string(int(r.details["page"][1])) + " page; attached and detached " + std::to_string(kRounds) +
               " times with keys forwarded; no window left";
    return true;
}

// After the fuzz the instance must still play and give everything back.
bool stillPlays(Round& r, Session& session, OutputCheck& out) {
    RenderSettings settings;
    settings.block = 120;
    settings.inspect = [&](const EventData& e) { out.see(e); };
    RenderResult result;
    std::string error;
    midifile::Song song = seededSong(r.seed, 300);
    if (!r.step("playing afterwards",
                [&] { renderSong(session.module(), *session.host(), song, settings, result, error); }))
        return false;
    return out.judge(r, session);
}

bool stateFuzzCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    std::vector<uint8_t> real;
    std::string error;
    if (!r.step("getState", [&] { session.getState(real, error); })) return false;
    std::vector<std::vector<uint8_t>> blocks = seededStates(r.seed, real, 300);
    ComRef<IStatePersistence> state(session.query<IStatePersistence>(hostid::IStatePersistence));
    if (!state) return r.fail("the module answers no IStatePersistence");
    int32_t accepted = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        int32_t answer = 0;
        if (!r.step("setState with a block of " + std::to_string(blocks[i].size()) + " bytes (#" + std::to_string(i) + ")",
                    [&] { answer = state->setState(blocks[i].data(), int32_t(blocks[i].size())); }))
            return false;
        if (answer != 0 && answer != 1) return r.fail("setState answered " + std::to_string(answer));
        accepted += answer == 0;
    }
    state.reset();
    if (!real.empty()) session.setState(real, error);
    OutputCheck out;
    if (!stillPlays(r, session, out)) return false;
    r.reason = std::to_string(blocks.size()) + " random and damaged state blocks (up to 1 MiB) answered, " +
               std::to_string(accepted) + " accepted; the filter still plays";
    return true;
}

bool eventFuzzCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    EventStore& store = session.host()->events();
    IMidiModule* m = session.module();
    OutputCheck out;
    midifile::Song odd = oddSong();
    struct Range {
        int32_t from, to;
    };
    const Range ranges[] = {{-2000, -1000}, {-1000, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5},
                            {5, 0x7FFFFF00}, {0x7FFFFF00, 0x7FFFFFFF}, {-0x7FFFFFFF, -0x7FFFFF00}};
    if (!r.step("odd events, negative times, one-tick and very long ranges", [&] {
            for (const Range& range : ranges) {
                std::vector<HostEvent> made;
                for (const midifile::Event& e : odd.tracks[0].events)
                    if (HostEvent h = newHostEvent(store, e)) {
                        store.setEventTime(h, range.from + int32_t(e.tick) % std::max(1, range.to - range.from));
                        made.push_back(h);
                    }
                for (HostEvent h : made) m->onEvent(h);
                m->process(range.from, range.to, 0);
                m->process(0, 0, 1);
                for (HostEvent h : made) store.discard(h);
                out.seeAll(store);
            }
            m->stop(0x7FFFFFFF);
            m->process(0, 0, 1);
            m->cycleJump(-100, 0x7FFFFFFF);
            m->reposition(0xFFFFFFFF);
            m->process(-5, -10, 0);
            out.seeAll(store);
        }))
        return false;
    if (!stillPlays(r, session, out)) return false;
    r.reason = "silent, loudest and longest notes, empty and 64 KiB sysex, pitch extremes at negative, "
               "one-tick and 2^31-tick ranges: " + std::to_string(out.events) + " events out, well-formed";
    return true;
}

size_t privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX c = {};
    c.cb = sizeof c;
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c);
    return c.PrivateUsage;
}

const int32_t kStressPerCall = 64;

// A block of the stress song: 64 events two ticks apart.
midifile::Event stressEvent(int64_t i) {
    midifile::Event e;
    e.tick = uint32_t(i * 2);
    e.kind = i % 4 == 3 ? midifile::EventKind::Channel : midifile::EventKind::Note;
    e.status = uint8_t((i % 4 == 3 ? 0xB0 : 0x90) | (i % 16));
    e.data1 = uint8_t(i % 4 == 3 ? 1 : 24 + i % 80);
    e.data2 = uint8_t(1 + i % 126);
    e.duration = 90;
    e.releaseVelocity = 64;
    return e;
}

bool stressCheck(Round& r) {
    Session session;
    if (!openSession(r, session)) return false;
    EventStore& store = session.host()->events();
    IMidiModule* m = session.module();
    const int64_t total = r.options.stressEvents;
    const int64_t calls = (total + kStressPerCall - 1) / kStressPerCall;
    std::vector<double> perCall;
    perCall.reserve(size_t(calls));
    OutputCheck out;
    size_t memoryAtStart = 0;
    std::vector<HostEvent> made(kStressPerCall);
    if (!r.step("a million events", [&] {
            for (int64_t c = 0; c < calls; ++c) {
                if (c == calls / 100) memoryAtStart = privateBytes();  // after the lists have grown
                int32_t from = int32_t(c * kStressPerCall * 2), to = from + kStressPerCall * 2;
                for (int32_t i = 0; i < kStressPerCall; ++i) made[size_t(i)] = newHostEvent(store, stressEvent(c * kStressPerCall + i));
                session.host()->setPosition(from);
                double t0 = secondsNow();
                for (HostEvent h : made) m->onEvent(h);
                m->process(from, to, 0);
                perCall.push_back(secondsNow() - t0);
                m->process(0, 0, 1);
                for (HostEvent h : made) store.discard(h);
                out.seeAll(store);
            }
            m->stop(int32_t(calls * kStressPerCall * 2));
            m->process(0, 0, 1);
            out.seeAll(store);
        }))
        return false;
    double growth = (double(privateBytes()) - double(memoryAtStart)) / (1024.0 * 1024.0);
    double median = percentile(perCall, 0.5) * 1000, p99 = percentile(perCall, 0.99) * 1000;
    double worst = perCall.empty() ? 0 : *std::max_element(perCall.begin(), perCall.end()) * 1000;
    r.details["events"] = total;
    r.details["msPerCall"] = {{"median", median}, {"p99", p99}, {"max", worst}, {"eventsPerCall", kStressPerCall}};
    r.details["budgetMet"] = p99 < 1.0;
    r.details["memoryGrowthMiB"] = growth;
    if (!out.judge(r, session)) return false;
    // A leak of a few bytes per event shows as tens of MiB over a million.
    if (growth > 32.0)
        return r.fail("memory grew by " + std::to_string(int(growth)) + " MiB over " + std::to_string(total) + " events");
    char text[300];
    std::snprintf(text, sizeof text,
                  "%lld events; per call of %d: median %.3f ms, 99th percentile %.3f ms (budget 1 ms: %s), max %.3f ms; "
                  "memory %+.1f MiB",
                  (long long)total, kStressPerCall, median, p99, p99 < 1.0 ? "met" : "MISSED", worst, growth);
    r.reason = text;
    return true;
}

// ---- the same filter calls made directly, to name the one that fails ------

// The filter without the module, as bench drives it: no host attached. Each call is
// announced before it is made, so a call that ends the process is still named.
class DirectFilter {
public:
    explicit DirectFilter(const GUID& clsid) : clsid_(clsid) {}
    ~DirectFilter() {
        if (filter_) call("Release", [&] { filter_->Release(); });
    }
    IMfxFilterPlugin* operator->() const { return filter_; }

    bool create() {
        HRESULT hr = E_FAIL;
        call("CoCreateInstance", [&] {
            hr = CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin,
                                  reinterpret_cast<void**>(&filter_));
        });
        return named_.empty() && hr == S_OK && filter_;
    }
    // Runs one of the filter's calls under the guard; false once any call raised.
    template <class F>
    bool call(const char* name, F&& fn) {
        if (!named_.empty()) return false;
        if (announced_ != name) {
            say({{"call", name}});
            announced_ = name;
        }
        DWORD code = 0;
        struct Box {
            F* fn;
        } box{&fn};
        bool returned = guard::runGuarded([](void* p) { (*static_cast<Box*>(p)->fn)(); }, &box, &code);
        if (!returned) named_ = std::string(name) + " raised " + exceptionText(code);
        return returned;
    }
    // Plays ranges of the song as the module would: begin, then each block's records.
    bool play(const midifile::Song& song, int32_t block) {
        EventListObject in, out;
        if (!call("beginPlayback", [&] { filter_->beginPlayback(0, &out); })) return false;
        const std::vector<midifile::Event>& events = song.tracks[0].events;
        size_t next = 0;
        for (int64_t from = 0; from <= int64_t(song.lastTick()); from += block) {
            in.clear();
            out.clear();
            for (; next < events.size() && int64_t(events[next].tick) < from + block; ++next) {
                MfxEvent e;
                if (mfxRecord(events[next], e)) in.add(&e);
            }
            if (!call("filterEvents", [&] { filter_->filterEvents(int32_t(from), int32_t(from + block - 1), &in, &out); }))
                return false;
        }
        return call("endPlayback", [&] { filter_->endPlayback(int32_t(song.lastTick()), &out); });
    }
    bool save(std::vector<uint8_t>& bytes) {
        ComRef<IPersistStream> persist;
        if (filter_->QueryInterface(comid::IPersistStream, persist.putVoid()) != S_OK) return true;
        ComRef<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
        if (!call("Save", [&] { persist->Save(stream.get(), TRUE); })) return false;
        STATSTG stat = {};
        stream->Stat(&stat, STATFLAG_NONAME);
        bytes.resize(stat.cbSize.LowPart);
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG got = 0;
        if (!bytes.empty()) stream->Read(bytes.data(), ULONG(bytes.size()), &got);
        return true;
    }
    bool load(const std::vector<uint8_t>& bytes) {
        ComRef<IPersistStream> persist;
        if (filter_->QueryInterface(comid::IPersistStream, persist.putVoid()) != S_OK || bytes.empty()) return true;
        ComRef<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
        ULONG put = 0;
        stream->Write(bytes.data(), ULONG(bytes.size()), &put);
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        return call("Load", [&] { persist->Load(stream.get()); });
    }
    const std::string& named() const { return named_; }

private:
    GUID clsid_;
    IMfxFilterPlugin* filter_ = nullptr;
    std::string announced_;
    std::string named_;
};

void directLoad(DirectFilter& f, const Round&) {
    ComRef<IUnknown> pages, persist;
    f.call("QueryInterface", [&] {
        f->QueryInterface(comid::ISpecifyPropertyPages, pages.putVoid());
        f->QueryInterface(comid::IPersistStream, persist.putVoid());
    });
}

void directSequenced(DirectFilter& f, const Round& r) {
    for (int32_t block : kBlockSizes)
        if (!f.play(seededSong(r.seed + uint32_t(block), block == 1 ? 200 : 1500), block)) return;
}

void directLive(DirectFilter& f, const Round& r) {
    for (const MidiMessage& m : seededMessages(r.seed, 2000)) {
        ShortEventListObject in, out;
        const MfxShortEvent record = {0, m.status, m.data1, m.data2, 0};
        in.add(&record);
        if (!f.call("filterLiveEvents", [&] { f->filterLiveEvents(&in, &out); })) return;
    }
}

void directTransport(DirectFilter& f, const Round& r) {
    EventListObject in, out;
    bool started = false;
    for (const TransportOp& op : seededTransport(r.seed, 1500)) {
        out.clear();
        bool ok = true;
        if (op.kind == TransportOp::Range && op.b > op.a) {
            if (!started) ok = f.call("beginPlayback", [&] { f->beginPlayback(op.a, &out); });
            started = true;
            ok = ok && f.call("filterEvents", [&] { f->filterEvents(op.a, op.b - 1, &in, &out); });
        } else if (op.kind == TransportOp::Stop) {
            started = false;
            ok = f.call("endPlayback", [&] { f->endPlayback(op.a, &out); });
        } else if (op.kind == TransportOp::Cycle && started) {
            ok = f.call("loopPlayback", [&] { f->loopPlayback(op.a, op.a + op.b, &out); });
        }
        if (!ok) return;
    }
}

void directState(DirectFilter& f, const Round&) {
    std::vector<uint8_t> bytes;
    if (f.save(bytes) && f.load(bytes)) f.save(bytes);
}

void directFreshState(DirectFilter& f, const Round& r) {
    directState(f, r);
    f.play(seededSong(r.seed, 1500), 120);
}

void directEditor(DirectFilter& f, const Round&) {
    ComRef<ISpecifyPropertyPages> provider;
    if (f->QueryInterface(comid::ISpecifyPropertyPages, provider.putVoid()) != S_OK) return;
    CAUUID pages = {0, nullptr};
    if (!f.call("GetPages", [&] { provider->GetPages(&pages); }) || pages.cElems == 0) return;
    GUID first = pages.pElems[0];
    CoTaskMemFree(pages.pElems);
    ComRef<IPropertyPage> page;
    ComRef<IUnknown> object;
    f->QueryInterface(comid::IUnknown, object.putVoid());
    IUnknown* objects[1] = {object.get()};
    PROPPAGEINFO info = {};
    info.cb = sizeof info;
    f.call("page CoCreateInstance",
           [&] { CoCreateInstance(first, nullptr, CLSCTX_INPROC_SERVER, comid::IPropertyPage, page.putVoid()); }) &&
        page && f.call("page.SetObjects", [&] { page->SetObjects(1, objects); }) &&
        f.call("page.GetPageInfo", [&] {
            if (page->GetPageInfo(&info) == S_OK) {
                CoTaskMemFree(info.pszTitle);
                CoTaskMemFree(info.pszDocString);
                CoTaskMemFree(info.pszHelpFile);
            }
        }) &&
        f.call("page.SetObjects", [&] { page->SetObjects(0, nullptr); }) &&
        f.call("page.Release", [&] { page.reset(); });
}

void directStateFuzz(DirectFilter& f, const Round& r) {
    std::vector<uint8_t> real;
    if (!f.save(real)) return;
    for (const std::vector<uint8_t>& b : seededStates(r.seed, real, 300))
        if (!f.load(b)) return;
}

void directEventFuzz(DirectFilter& f, const Round&) {
    midifile::Song odd = oddSong();
    EventListObject in, out;
    for (const midifile::Event& e : odd.tracks[0].events) {
        MfxEvent record;
        if (mfxRecord(e, record)) in.add(&record);
    }
    f.call("beginPlayback", [&] { f->beginPlayback(-2000, &out); }) &&
        f.call("filterEvents", [&] { f->filterEvents(-2000, -1001, &in, &out); }) &&
        f.call("filterEvents", [&] { f->filterEvents(5, 0x7FFFFEFF, &in, &out); }) &&
        f.call("endPlayback", [&] { f->endPlayback(0x7FFFFFFF, &out); });
}

void directStress(DirectFilter& f, const Round& r) {
    EventListObject in, out;
    const int64_t calls = (r.options.stressEvents + kStressPerCall - 1) / kStressPerCall;
    if (!f.call("beginPlayback", [&] { f->beginPlayback(0, &out); })) return;
    for (int64_t c = 0; c < calls; ++c) {
        in.clear();
        out.clear();
        for (int32_t i = 0; i < kStressPerCall; ++i) {
            MfxEvent e;
            mfxRecord(stressEvent(c * kStressPerCall + i), e);
            in.add(&e);
        }
        int32_t from = int32_t(c * kStressPerCall * 2);
        if (!f.call("filterEvents", [&] { f->filterEvents(from, from + kStressPerCall * 2 - 1, &in, &out); })) return;
    }
}

struct Check {
    CheckInfo info;
    bool (*run)(Round&);
    void (*direct)(DirectFilter&, const Round&);
};

const Check kChecks[] = {
    {{"load", 1, "offered, created, initialised, terminated, released; class id"}, loadCheck, directLoad},
    {{"process.sequenced", 3, "a seeded stream of every event kind in ranges"}, sequencedCheck, directSequenced},
    {{"process.live", 3, "seeded live messages through the live path"}, liveCheck, directLive},
    {{"transport", 5, "seeded starts, stops, repositions and cycle jumps"}, transportCheck, directTransport},
    {{"state.roundtrip", 5, "getState, setState, getState gives the same bytes"}, stateCheck, directState},
    {{"state.fresh-instance", 5, "a fresh instance given the state plays the same"}, freshInstanceCheck, directFreshState},
    {{"editor", 7, "template, view attached and detached, keys, windows back to none"}, editorCheck, directEditor},
    {{"fuzz.state", 8, "random and damaged state blocks"}, stateFuzzCheck, directStateFuzz},
    {{"fuzz.events", 8, "extreme events, negative times, one-tick and very long ranges"}, eventFuzzCheck, directEventFuzz},
    {{"stress", 10, "a million events, time per call and memory growth"}, stressCheck, directStress},
};

const Check* findCheck(const std::string& name) {
    for (const Check& c : kChecks)
        if (name == c.info.name) return &c;
    return nullptr;
}

// ---- the parent: one child process per check ---------------------------------

std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

struct ChildResult {
    bool started = false;
    DWORD startError = 0;  // GetLastError when the process could not be started
    bool timedOut = false;
    DWORD exitCode = 0;
    std::vector<json> lines;
    std::string text;  // what was not a JSON line (error messages)
    double seconds = 0;

    // The last value of a key over the lines, or "".
    std::string last(const char* key) const {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->contains(key) && (*it)[key].is_string()) return (*it)[key];
        return "";
    }
    const json* outcome() const {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->contains("status")) return &*it;
        return nullptr;
    }
};

ChildResult runChild(const std::vector<std::string>& args, DWORD timeoutMs) {
    ChildResult result;
    std::string line = quoted(programFolder() + "palisander-host.exe");
    char self[MAX_PATH] = {};
    if (GetModuleFileNameA(nullptr, self, MAX_PATH)) line = quoted(self);
    for (const std::string& a : args) line += " " + quoted(a);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) {
        result.startError = GetLastError();
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back(0);
    double started = secondsNow();
    result.started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                    &process) != 0;
    if (!result.started) result.startError = GetLastError();
    CloseHandle(writeEnd);
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }
    std::string buffer;
    auto drain = [&] {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(readEnd, chunk, std::min<DWORD>(available, sizeof chunk), &got, nullptr) || !got) break;
            buffer.append(chunk, got);
        }
    };
    DWORD deadline = GetTickCount() + timeoutMs;
    for (;;) {
        drain();
        DWORD left = int32_t(deadline - GetTickCount()) > 0 ? deadline - GetTickCount() : 0;
        DWORD waited = WaitForSingleObject(process.hProcess, std::min<DWORD>(left, 20));
        if (waited == WAIT_OBJECT_0) break;
        if (left == 0) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 0xC000013A);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    drain();
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    result.seconds = secondsNow() - started;
    size_t at = 0;
    while (at < buffer.size()) {
        size_t end = buffer.find('\n', at);
        std::string text = buffer.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? buffer.size() : end + 1;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
        if (text.empty()) continue;
        json parsed = json::parse(text, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object())
            result.lines.push_back(parsed);
        else
            result.text = text;
    }
    return result;
}

std::string deathText(const ChildResult& child, DWORD timeoutMs) {
    if (!child.started) return "the check's process could not be started (error " + std::to_string(child.startError) + ")";
    if (child.timedOut) return "no answer within " + std::to_string(timeoutMs) + " ms: killed";
    return "the process died with " + exceptionText(child.exitCode);
}

std::vector<std::string> childArgs(const Options& o, const std::string& check, bool direct) {
    std::vector<std::string> args = {"validate", "--filter", o.filter, "--run-check", check, "--seed",
                                     std::to_string(o.seed), "--repeat", std::to_string(o.repeat),
                                     "--stress-events", std::to_string(o.stressEvents)};
    if (!o.modulePath.empty()) args.insert(args.end(), {"--module", o.modulePath});
    if (direct) args.push_back("--direct");
    return args;
}

struct Verdict {
    std::string status;  // PASS, FAIL, SKIP
    std::string reason;
    std::string direct;  // the failing call, named by the direct run
    double seconds = 0;
    json details;
};

Verdict runOne(const Options& o, const CheckInfo& info) {
    Verdict v;
    ChildResult child = runChild(childArgs(o, info.name, false), DWORD(o.timeoutMs));
    v.seconds = child.seconds;
    const json* outcome = child.outcome();
    bool nameTheCall = false;
    if (outcome) {
        std::string status = outcome->value("status", "");
        v.status = status == "pass" ? "PASS" : status == "skip" ? "SKIP" : "FAIL";
        v.reason = outcome->value("reason", "");
        v.details = outcome->value("details", json::object());
        nameTheCall = outcome->value("exception", false);
    }
    if (!outcome || child.timedOut || (child.exitCode != 0 && child.exitCode != 1)) {
        // The process ended without its answer, or hung after it.
        std::string step = child.last("step");
        v.status = "FAIL";
        v.reason = deathText(child, DWORD(o.timeoutMs)) + (step.empty() ? "" : " during " + step);
        if (!outcome && !child.timedOut && child.exitCode <= 2 && !child.text.empty()) v.reason = child.text;
        nameTheCall = child.timedOut || child.exitCode > 2;
    }
    if (v.status == "FAIL" && nameTheCall) {
        ChildResult direct = runChild(childArgs(o, info.name, true), DWORD(o.timeoutMs));
        std::string named = direct.last("named");
        std::string call = direct.last("call");
        if (!named.empty())
            v.direct = named;
        else if (direct.timedOut || direct.exitCode > 2)
            v.direct = (call.empty() ? "loading the filter" : call) +
                       (direct.timedOut ? " did not return within " + std::to_string(o.timeoutMs) + " ms"
                                        : " ended the process with " + exceptionText(direct.exitCode));
        else
            v.direct = "the failure did not repeat when the filter was called directly";
    }
    return v;
}

}  // namespace

const std::vector<CheckInfo>& validationChecks() {
    static const std::vector<CheckInfo> infos = [] {
        std::vector<CheckInfo> v;
        for (const Check& c : kChecks) v.push_back(c.info);
        return v;
    }();
    return infos;
}

std::string malformedEvent(const EventData& e) {
    char text[160];
    if (e.kind == 0xF0) {
        const std::vector<uint8_t>& s = e.sysex;
        bool inner = std::all_of(s.begin() + (s.empty() ? 0 : 1), s.end() - (s.size() > 1 ? 1 : 0),
                                 [](uint8_t b) { return b < 0x80; });
        if (s.size() >= 2 && s.front() == 0xF0 && s.back() == 0xF7 && inner) return "";
        std::snprintf(text, sizeof text, "a system event (status 0x%02X) at %d that is no sysex message from F0 to F7 (%u bytes)",
                      e.status, e.time, unsigned(s.size()));
        return text;
    }
    if (e.kind < 0x80 || e.kind > 0xE0) {
        std::snprintf(text, sizeof text, "an event of unknown kind 0x%02X at %d", unsigned(e.kind), e.time);
        return text;
    }
    int need = dataByteCount(uint8_t(e.kind));
    if (e.channel < 0 || e.channel > 15 || e.data1 > 127 || (need == 2 && e.data2 > 127)) {
        std::snprintf(text, sizeof text, "0x%02X at %d on channel %d with data %u %u", unsigned(e.kind), e.time,
                      e.channel, unsigned(e.data1), unsigned(e.data2));
        return text;
    }
    return "";
}

std::string accountingProblems(const EventStore& store) {
    std::string out;
    auto add = [&](int32_t n, const char* what) {
        if (n) out += (out.empty() ? "" : "; ") + std::to_string(n) + " " + what;
    };
    add(store.liveHandles(), "events the module made were never given back");
    add(store.doubleReleases(), "given back twice");
    add(store.foreignReleases(), "host events given back by the module");
    add(store.staleHandleUses(), "uses of events already given back");
    add(store.unknownHandleUses(), "uses of handles the host never issued");
    return out;
}

void NoteBalance::add(const EventData& e) {
    uint32_t key = e.data1 & 0x7F;
    int32_t slot = (e.channel < 0 ? 0 : e.channel & 15) * 128 + int32_t(key);
    if (e.kind == 0x90 && e.data2 > 0 && e.duration == 0) {
        if (open_[slot]++ == 0) since_[slot] = e.time;
        ++sounding_;
    } else if ((e.kind == 0x80 || (e.kind == 0x90 && e.data2 == 0)) && open_[slot] > 0) {
        --open_[slot];
        --sounding_;
    }
}

std::string NoteBalance::first() const {
    int32_t oldest = -1;
    for (int32_t slot = 0; slot < 16 * 128; ++slot)
        if (open_[slot] > 0 && (oldest < 0 || since_[slot] < since_[oldest])) oldest = slot;
    if (oldest < 0) return "";
    return "channel " + std::to_string(oldest / 128 + 1) + " key " + std::to_string(oldest % 128) + " at " +
           std::to_string(since_[oldest]);
}

int runValidateCheck(const Options& o) {
    const Check* check = findCheck(o.runCheck);
    if (!check) {
        std::fprintf(stderr, "palisander-host: no check \"%s\"\n", o.runCheck.c_str());
        return 2;
    }
    // A box would wait for a click that never comes.
    WarningCatcher catcher;
    if (o.direct) {
        ModuleLoader loader;
        std::string error;
        if (!loader.load(o.modulePath, &error) || !loader.find(o.filter)) {
            say({{"named", ""}});
            return 0;
        }
        GUID clsid = loader.find(o.filter)->classId;
        for (int32_t i = 0; i < o.repeat; ++i) {
            Round round{o, o.seed + uint32_t(i)};
            DirectFilter filter(clsid);
            if (filter.create()) check->direct(filter, round);
            if (!filter.named().empty()) {
                say({{"named", filter.named()}});
                return 0;
            }
        }
        say({{"named", ""}});
        return 0;
    }
    EscapeWatch::install(o.modulePath.empty() ? "palisander.dll" : o.modulePath);
    json last;
    for (int32_t i = 0; i < o.repeat; ++i) {
        Round round{o, o.seed + uint32_t(i)};
        bool passed = check->run(round);
        if (round.skipped) {
            say({{"status", "skip"}, {"reason", round.reason}});
            return 0;
        }
        if (!passed) {
            std::string prefix = o.repeat > 1 ? "round " + std::to_string(i + 1) + " (seed " + std::to_string(round.seed) + "): " : "";
            say({{"status", "fail"}, {"reason", prefix + round.reason}, {"exception", round.exception}, {"details", round.details}});
            return 1;
        }
        last = {{"status", "pass"}, {"reason", round.reason}, {"details", round.details}};
    }
    say(last);
    return 0;
}

int runValidate(const Options& o) {
    const bool jsonOnly = o.report == "-";
    FILE* text = jsonOnly ? stderr : stdout;
    std::vector<const CheckInfo*> chosen;
    for (const CheckInfo& c : validationChecks())
        if (o.only.empty() ? c.level <= o.level : o.only == c.name) chosen.push_back(&c);
    if (chosen.empty()) {
        std::string names;
        for (const CheckInfo& c : validationChecks()) names += std::string(names.empty() ? "" : ", ") + c.name;
        std::fprintf(stderr, "palisander-host: no check \"%s\" (the checks: %s)\n", o.only.c_str(), names.c_str());
        return 2;
    }
    std::string scope = o.only.empty() ? "at level " + std::to_string(o.level) : "check " + o.only;
    std::fprintf(text, "validating \"%s\" %s, seed %u%s: %u check%s, each in its own process\n", o.filter.c_str(),
                 scope.c_str(), o.seed, o.repeat > 1 ? (", " + std::to_string(o.repeat) + " rounds").c_str() : "",
                 unsigned(chosen.size()), chosen.size() == 1 ? "" : "s");
    std::fflush(text);
    json report = {{"filter", o.filter}, {"level", o.level}, {"seed", o.seed}, {"repeat", o.repeat}, {"checks", json::array()}};
    int32_t passed = 0, failed = 0, skipped = 0;
    for (const CheckInfo* c : chosen) {
        Verdict v = runOne(o, *c);
        (v.status == "PASS" ? passed : v.status == "SKIP" ? skipped : failed)++;
        std::string line = v.reason + (v.direct.empty() ? "" : "; directly: " + v.direct);
        std::fprintf(text, "%-4s %-20s %s (%.1f s)\n", v.status.c_str(), c->name, line.c_str(), v.seconds);
        std::fflush(text);
        report["checks"].push_back({{"name", c->name},
                                    {"level", c->level},
                                    {"status", v.status},
                                    {"reason", v.reason},
                                    {"direct", v.direct},
                                    {"seconds", v.seconds},
                                    {"details", v.details}});
    }
    std::fprintf(text, "%d passed, %d failed%s\n", passed, failed,
                 skipped ? (", " + std::to_string(skipped) + " skipped").c_str() : "");
    report["passed"] = passed;
    report["failed"] = failed;
    report["skipped"] = skipped;
    if (jsonOnly) {
        std::printf("%s\n", report.dump(2).c_str());
    } else if (!o.report.empty()) {
        std::string error;
        std::string body = report.dump(2) + "\n";
        if (!writeFileAtomically(o.report, std::vector<uint8_t>(body.begin(), body.end()), error)) {
            std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
            return 2;
        }
    }
    return failed ? 1 : 0;
}
