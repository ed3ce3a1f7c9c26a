#include "Bench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ReferenceHost.h"
#include "Render.h"
#include "Session.h"
#include "guard/Guard.h"
#include "interfaces/ComExtras.h"
#include "services/RecordList.h"

namespace {

const int32_t kBlock = 120;  // a 16th note at 480 per quarter
const int32_t kSpacing = 4;
const int32_t kPerCall = 64;  // events per timed process call in the spread

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

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

// The sample Transpose filter's state block: magic "PTRS", version 1, one value.
std::vector<uint8_t> transposeState(int32_t semitones) {
    std::vector<uint8_t> s = {'P', 'T', 'R', 'S', 1, 0, 1, 0};
    for (int i = 0; i < 4; ++i) s.push_back(uint8_t(uint32_t(semitones) >> (8 * i)));
    return s;
}

// The filter alone: ready input lists, one per block, and one output list emptied after each call.
bool directPath(const GUID& clsid, const midifile::Song& song, double& seconds, uint64_t& outCount,
                std::string& error) {
    ComRef<IMfxFilterPlugin> filter;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, mfxid::IMfxFilterPlugin, filter.putVoid());
    if (hr != S_OK || !filter) {
        error = "cannot create the filter directly (CoCreateInstance failed)";
        return false;
    }
    const std::vector<midifile::Event>& events = song.tracks[0].events;
    uint32_t end = song.lastTick();
    const size_t blocks = (end + kBlock) / kBlock;
    std::unique_ptr<EventListObject[]> inputs(new EventListObject[blocks]);
    for (const midifile::Event& e : events) {
        MfxEvent r;
        if (mfxRecord(e, r)) inputs[e.tick / kBlock].add(&r);
    }
    EventListObject output;
    outCount = 0;
    bool ok = guard::call([&] {
        filter->beginPlayback(0, &output);
        output.clear();
        double start = now();
        for (size_t b = 0; b < blocks; ++b) {
            int32_t from = int32_t(b) * kBlock;
            filter->filterEvents(from, from + kBlock - 1, &inputs[b], &output);
            outCount += uint64_t(output.size());
            output.clear();
        }
        seconds = now() - start;
        filter->endPlayback(int32_t(blocks) * kBlock, &output);
    });
    if (!ok) error = "the filter raised an exception when driven directly";
    return ok;
}

// Nanoseconds per call of fn over n calls.
template <class F>
double perCall(int32_t n, F&& fn) {
    double start = now();
    for (int32_t i = 0; i < n; ++i) fn(i);
    return (now() - start) * 1e9 / n;
}

// What the reference host's event store alone costs for the operations one note needs on
// its way through a module: copy, read its fields, give back; create, set fields, output, give back.
double hostOperationsNs(int32_t n) {
    ReferenceHost* host = new ReferenceHost();
    host->events().setJournaling(false);
    IMidiModuleHost* ops = host->moduleHost();
    double ns = perCall(n, [&](int32_t i) {
        HostEvent e = host->events().newNote(i, 0, 60, 90, 60, 64);
        HostEvent c = ops->copyEvent(e);
        volatile uint32_t sink = uint32_t(ops->eventTime(c)) + ops->eventKind(c) + uint32_t(ops->eventChannel(c)) +
                                 ops->eventData1(c) + ops->eventData2(c) + ops->eventDuration(c) +
                                 ops->releaseVelocity(c);
        (void)sink;
        ops->releaseEvent(c);
        host->events().discard(e);
        HostEvent o = ops->createEvent(0x90, 60, 90, 60);
        ops->setReleaseVelocity(o, 64);
        ops->setEventTime(o, i);
        ops->setEventChannel(o, 0);
        ops->outputEvent(o);
        ops->releaseEvent(o);
        if ((i & 1023) == 0) host->events().takeOutput();
    });
    host->Release();
    return ns;
}

// The song again in blocks of kPerCall events, each handed over with onEvent and then
// processed: the microseconds of every such process call (onEvent and the idle call after
// it untimed). A stopped module's first range is skipped, so an empty one goes first.
std::vector<double> processSpread(Session& session, const midifile::Song& song) {
    EventStore& store = session.host()->events();
    IMidiModule* module = session.module();
    const std::vector<midifile::Event>& events = song.tracks[0].events;
    const size_t calls = events.size() / size_t(kPerCall);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> micros;
    micros.reserve(calls);
    std::vector<HostEvent> made;
    made.reserve(size_t(kPerCall));
    module->process(0, 1, 0);
    int32_t to = 0;
    for (size_t c = 0; c < calls; ++c) {
        const int32_t from = to;
        to = from + kPerCall * kSpacing;
        made.clear();
        for (size_t i = c * size_t(kPerCall); i < (c + 1) * size_t(kPerCall); ++i)
            if (HostEvent h = newHostEvent(store, events[i])) made.push_back(h);
        session.host()->setPosition(from);
        for (HostEvent h : made) module->onEvent(h);
        LARGE_INTEGER begun, ended;
        QueryPerformanceCounter(&begun);
        module->process(from, to, 0);
        QueryPerformanceCounter(&ended);
        micros.push_back(double(ended.QuadPart - begun.QuadPart) * 1e6 / double(frequency.QuadPart));
        module->process(0, 0, 1);
        for (HostEvent h : made) store.discard(h);
        store.takeOutput();
    }
    session.host()->setPosition(to);
    module->stop(to);
    module->process(0, 0, 1);
    store.takeOutput();
    return micros;
}

// Live messages one at a time: from onEvent to the host's outputEventNow of the first event
// the filter gave back for it, in microseconds. Messages without output are counted apart.
std::vector<double> liveLatencies(Session& session, int32_t messages, int32_t& silent) {
    EventStore& store = session.host()->events();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> micros;
    micros.reserve(size_t(messages));
    silent = 0;
    for (int32_t i = 0; i < messages; ++i) {
        // Note-ons and their note-offs in turn, over 16 channels.
        uint32_t status = uint32_t((i & 1) ? 0x80 : 0x90) | uint32_t(i / 2 % 16);
        HostEvent h = store.newEvent(0, status, uint32_t(36 + i / 2 % 48), (i & 1) ? 0 : 100);
        store.markLive(h, true);
        session.host()->resetFirstOutputNow();
        LARGE_INTEGER sent;
        QueryPerformanceCounter(&sent);
        session.module()->onEvent(h);
        int64_t heard = session.host()->firstOutputNow();
        store.discard(h);
        store.takeOutput();
        if (!heard)
            ++silent;
        else
            micros.push_back(double(heard - sent.QuadPart) * 1e6 / double(frequency.QuadPart));
    }
    return micros;
}

}  // namespace

midifile::Song benchSong(int32_t count) {
    midifile::Song song;
    song.format = 0;
    song.division = 480;
    song.tracks.resize(1);
    std::vector<midifile::Event>& events = song.tracks[0].events;
    events.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        midifile::Event e;
        e.tick = uint32_t(i) * kSpacing;
        uint8_t channel = uint8_t(i % 4);
        if (i % 4 != 3) {
            e.kind = midifile::EventKind::Note;
            e.status = uint8_t(0x90 | channel);
            e.data1 = uint8_t(36 + i % 48);
            e.data2 = uint8_t(40 + i % 80);
            e.releaseVelocity = 64;
            e.duration = 60;
        } else {
            e.kind = midifile::EventKind::Channel;
            e.status = uint8_t(0xB0 | channel);
            e.data1 = 1;
            e.data2 = uint8_t(i % 128);
        }
        events.push_back(e);
    }
    song.tracks[0].endTick = song.lastTick();
    return song;
}

int runBench(const Options& o) {
    std::string error;
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "palisander-host: %s\n", message.c_str());
        return 1;
    };
    Session session;
    if (!session.open(o.modulePath, o.filter, error)) return fail(error);
    const PluginClass& cls = session.filterClass();
    bool passThrough = cls.name == "Transpose";
    if (passThrough && !session.setState(transposeState(0), error)) return fail(error);

    std::printf("benchmark: filter \"%s\"%s, %d events, blocks of %d ticks\n", cls.name.c_str(),
                passThrough ? " set to 0 semitones (pass-through)" : " with its default settings", o.events, kBlock);
    std::fflush(stdout);
    midifile::Song song = benchSong(o.events);

    RenderSettings settings;
    settings.block = kBlock;
    settings.tailUntilQuiet = false;  // the direct path plays no tail either
    RenderResult result;
    if (!renderSong(session.module(), *session.host(), song, settings, result, error)) return fail(error);
    double moduleNs = result.seconds * 1e9 / double(result.eventsIn);
    double insideNs = result.moduleSeconds * 1e9 / double(result.eventsIn);
    std::vector<double> perBlock = processSpread(session, song);

    double directSeconds = 0;
    uint64_t directOut = 0;
    if (!directPath(cls.classId, song, directSeconds, directOut, error)) return fail(error);
    double directNs = directSeconds * 1e9 / double(o.events);
    double ratio = directNs > 0 ? moduleNs / directNs : 0;

    IMidiModule* module = session.module();
    const int32_t calls = 200000;
    module->process(0, kBlock, 0);  // leaves the state a stop left behind
    double emptyNs = perCall(calls, [&](int32_t i) { module->process(i * kBlock, (i + 1) * kBlock, 0); });
    double idleNs = perCall(calls, [&](int32_t) { module->process(0, 0, 1); });
    module->stop(calls * kBlock);
    module->process(0, 0, 1);

    std::printf("module path    %9.1f ns/event  (%llu in, %llu out, %.3f s)\n", moduleNs,
                (unsigned long long)result.eventsIn, (unsigned long long)result.eventsOut, result.seconds);
    std::printf("  in its calls %9.1f ns/event  (onEvent, process, stop; the host's event operations they use included)\n",
                insideNs);
    double opsNs = hostOperationsNs(200000);
    std::printf("  of which     %9.1f ns/event  the reference host's event store alone, for what a note costs any module\n",
                opsNs);
    std::printf("  host's own   %9.1f ns/event  (making, dropping and collecting the host's events)\n",
                moduleNs - insideNs);
    std::printf("direct path    %9.1f ns/event  (%llu out, %.3f s)\n", directNs, (unsigned long long)directOut,
                directSeconds);
    std::printf("ratio          %9.2f x         target <= 2 x: %s\n", ratio, verdict(ratio <= 2.0));
    std::printf("module's share %9.1f ns/event  (in its calls, less the host's event operations)\n", insideNs - opsNs);
    std::printf("share ratio    %9.2f x         (the module's share to the direct path)\n",
                directNs > 0 ? (insideNs - opsNs) / directNs : 0);
    if (perBlock.empty()) {
        std::printf("process/block  not measured: fewer than %d events\n", kPerCall);
    } else {
        std::printf("process/block  %9.2f us median, %.2f us 99th percentile, %.2f us max  (each timed process call "
                    "carries %d events, %d ticks; %d calls)\n",
                    percentile(perBlock, 0.5), percentile(perBlock, 0.99),
                    *std::max_element(perBlock.begin(), perBlock.end()), kPerCall, kPerCall * kSpacing,
                    int(perBlock.size()));
    }
    std::printf("empty process  %9.1f ns/call   target < 200 ns: %s\n", emptyNs, verdict(emptyNs < 200));
    std::printf("idle process   %9.1f ns/call\n", idleNs);
    double perMillion = result.seconds * 1e6 / double(result.eventsIn);
    std::printf("render         %9.3f s for 1,000,000 events%s  target < 2 s: %s\n", perMillion,
                o.events == 1000000 ? "" : " (scaled)", verdict(perMillion < 2.0));
    int32_t silent = 0;
    const int32_t liveMessages = 20000;
    std::vector<double> latency = liveLatencies(session, liveMessages, silent);
    if (latency.empty()) {
        std::printf("live latency   not measured: the filter output nothing for %d live messages\n", liveMessages);
    } else {
        std::printf("live latency   %9.2f us median, %.2f us 99th percentile  (onEvent to outputEventNow, %d messages%s)\n",
                    percentile(latency, 0.5), percentile(latency, 0.99), liveMessages,
                    silent ? (", " + std::to_string(silent) + " without output").c_str() : "");
    }

    // State: the filter's own block round-tripped, then blocks of 1 KiB and 1 MiB offered to setState.
    std::vector<uint8_t> state;
    if (!session.getState(state, error)) {
        std::printf("state          not measured: %s\n", error.c_str());
    } else {
        const int32_t trips = 2000;
        bool allOk = true;
        double tripNs = perCall(trips, [&](int32_t) {
            std::vector<uint8_t> s;
            std::string e;
            allOk = session.getState(s, e) && session.setState(s, e) && allOk;
        });
        std::printf("state trip     %9.2f us          getState + setState of its %u-byte state%s\n", tripNs / 1000,
                    unsigned(state.size()), allOk ? "" : " (some failed)");
        for (size_t size : {size_t(1024), size_t(1024 * 1024)}) {
            std::vector<uint8_t> big(state);
            big.resize(std::max(size, state.size()), 0);
            std::string e;
            bool accepted = session.setState(big, e);
            double ns = perCall(size > 4096 ? 20 : 2000, [&](int32_t) { session.setState(big, e); });
            std::printf("setState %4s  %9.2f us          %s (its state followed by zeros)\n",
                        size == 1024 ? "1KiB" : "1MiB", ns / 1000,
                        accepted ? "accepted" : "refused by the filter");
        }
        session.setState(state, error);
    }
    std::printf("(figures are informative: nothing fails on timing)\n");
    return 0;
}
