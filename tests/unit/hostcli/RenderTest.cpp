#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ReferenceHost.h"
#include "Render.h"
#include "host/UniqueId.h"

namespace {

// A module that records the host's calls and passes every event through at the
// range it falls in; after a stop its first idle call outputs one controller 10
// ticks after the stop (the stop output is timed from the stop).
class PassThroughModule : public IMidiModule {
public:
    std::vector<std::string> calls;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE initialize(IUnknown* context) override {
        return context->QueryInterface(hostid::IMidiModuleHost.guid(), reinterpret_cast<void**>(&host_));
    }
    HRESULT STDMETHODCALLTYPE terminate() override {
        if (host_) host_->Release();
        host_ = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getInfo(ModuleInfo*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE setValue(int32_t) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE onEvent(HostEvent e) override {
        calls.push_back("event " + std::to_string(host_->eventTime(e)));
        pending_.push_back(host_->copyEvent(e));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE process(int32_t from, int32_t to, uint8_t idle) override {
        if (idle) {
            calls.push_back("idle");
            if (stopped_) {
                HostEvent h = host_->createEvent(0xB0, 64, 0, 0);
                host_->setEventTime(h, 10);
                host_->outputEvent(h);
                host_->releaseEvent(h);
                stopped_ = false;
            }
            return S_OK;
        }
        calls.push_back("process " + std::to_string(from) + " " + std::to_string(to));
        std::vector<HostEvent> later;
        for (HostEvent h : pending_) {
            if (host_->eventTime(h) < to) {
                host_->outputEvent(h);
                host_->releaseEvent(h);
            } else {
                later.push_back(h);
            }
        }
        pending_.swap(later);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE reposition(uint32_t) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE cycleJump(int32_t start, int32_t length) override {
        calls.push_back("cycleJump " + std::to_string(start) + " " + std::to_string(length));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE stop(int32_t time) override {
        calls.push_back("stop " + std::to_string(time));
        stopped_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE start(int32_t time) override {
        calls.push_back("start " + std::to_string(time));
        return S_OK;
    }

private:
    IMidiModuleHost* host_ = nullptr;
    std::vector<HostEvent> pending_;
    bool stopped_ = false;
};

midifile::Event note(uint32_t tick, uint8_t status, uint8_t key, uint8_t velocity, uint32_t duration,
                     uint8_t release) {
    midifile::Event e;
    e.tick = tick;
    e.kind = midifile::EventKind::Note;
    e.status = status;
    e.data1 = key;
    e.data2 = velocity;
    e.duration = duration;
    e.releaseVelocity = release;
    return e;
}

midifile::Event channel(uint32_t tick, uint8_t status, uint8_t d1, uint8_t d2) {
    midifile::Event e;
    e.tick = tick;
    e.kind = midifile::EventKind::Channel;
    e.status = status;
    e.data1 = d1;
    e.data2 = d2;
    return e;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = new ReferenceHost();
        ASSERT_EQ(module_.initialize(host_->context()), S_OK);
    }
    void TearDown() override {
        module_.terminate();
        EXPECT_TRUE(host_->events().balanced());
        EXPECT_EQ(host_->events().hostHandles(), 0);  // every host event was dropped after onEvent
        host_->Release();
    }
    bool render(const midifile::Song& song, const RenderSettings& settings, RenderResult& result) {
        std::string error;
        bool ok = renderSong(&module_, *host_, song, settings, result, error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    ReferenceHost* host_ = nullptr;
    PassThroughModule module_;
};

TEST_F(RenderTest, EventsGoInBeforeTheBlockTheyFallInThenStopAndIdleCalls) {
    midifile::Song song;
    song.division = 480;
    song.tracks.resize(1);
    song.tracks[0].events = {channel(0, 0xB0, 7, 100), channel(130, 0xC0, 5, 0)};
    song.tracks[0].endTick = 300;
    RenderSettings settings;
    settings.tailUntilQuiet = false;
    RenderResult result;
    ASSERT_TRUE(render(song, settings, result));
    const std::vector<std::string> expected = {
        "start 0",       "event 0", "process 0 120", "idle", "event 130", "process 120 240", "idle",
        "process 240 300", "idle", "stop 300",        "idle", "idle"};
    EXPECT_EQ(module_.calls, expected);
    EXPECT_EQ(result.eventsIn, 2u);
    EXPECT_EQ(result.eventsOut, 3u);
    EXPECT_EQ(result.songTicks, 300u);
    EXPECT_EQ(result.songMicros, 312500);  // 300 ticks at 120 BPM and 480 per quarter
}

TEST_F(RenderTest, PassThroughKeepsEveryEventAndTheStopOutputIsTimedFromTheStop) {
    midifile::Song song;
    song.division = 96;
    song.tempos = {{0, 400000}};
    song.tracks.resize(2);
    midifile::Event sysex;
    sysex.tick = 50;
    sysex.kind = midifile::EventKind::Sysex;
    sysex.status = 0xF0;
    sysex.bytes = {0xF0, 0x43, 0x10, 0x4C, 0xF7};
    song.tracks[1].events = {note(0, 0x91, 60, 90, 48, 31), channel(10, 0xE1, 0x00, 0x40), sysex,
                             channel(60, 0xA1, 60, 33), channel(70, 0xD1, 12, 0), note(90, 0x9F, 72, 1, 200, 0)};
    // Not carried: a note-off the reader found no note for, and an empty sysex.
    midifile::Event empty = sysex;
    empty.bytes.clear();
    song.tracks[1].events.push_back(channel(95, 0x81, 61, 0));
    song.tracks[1].events.push_back(empty);
    RenderSettings settings;
    settings.block = 7;
    settings.tailUntilQuiet = false;
    RenderResult result;
    ASSERT_TRUE(render(song, settings, result));
    ASSERT_EQ(result.output.division, 96);
    ASSERT_EQ(result.output.tracks.size(), 2u);
    const midifile::Track& out = result.output.tracks[1];
    ASSERT_EQ(out.events.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        const midifile::Event& a = song.tracks[1].events[i];
        const midifile::Event& b = out.events[i];
        EXPECT_EQ(b.tick, a.tick) << i;
        EXPECT_EQ(b.kind, a.kind) << i;
        EXPECT_EQ(b.status, a.status) << i;
        EXPECT_EQ(b.data1, a.data1) << i;
        EXPECT_EQ(b.data2, a.data2) << i;
        EXPECT_EQ(b.duration, a.duration) << i;
        EXPECT_EQ(b.releaseVelocity, a.releaseVelocity) << i;
        EXPECT_EQ(b.bytes, a.bytes) << i;
    }
    EXPECT_EQ(out.events[6].tick, 290u + 10u);  // song end 290, then 10 ticks after the stop
    EXPECT_EQ(out.events[6].status, 0xB0);
    EXPECT_EQ(result.eventsIn, 6u);
    EXPECT_EQ(result.notCarried, (std::map<std::string, uint64_t>{{"note-offs without a sounding note", 1},
                                                                   {"empty sysex messages", 1}}));
}

TEST_F(RenderTest, ALoopJumpsBackAtItsEndAndItsSecondPassFollowsTheFirst) {
    midifile::Song song;
    song.division = 480;
    song.tracks.resize(1);
    song.tracks[0].events = {channel(100, 0xB0, 1, 1), channel(300, 0xB0, 1, 2)};
    song.tracks[0].endTick = 480;
    RenderSettings settings;
    settings.block = 120;
    settings.idleCalls = 0;
    settings.tailUntilQuiet = false;
    settings.loop = true;
    settings.loopStart = 0;
    settings.loopLength = 240;
    settings.loopTimes = 2;
    RenderResult result;
    ASSERT_TRUE(render(song, settings, result));
    const std::vector<std::string> expected = {
        "start 0",         "event 100",       "process 0 120", "process 120 240", "cycleJump 0 240",
        "event 100",       "process 0 120",   "process 120 240", "event 300",     "process 240 360",
        "process 360 480", "stop 480",        "idle",          "idle"};
    EXPECT_EQ(module_.calls, expected);
    const midifile::Track& out = result.output.tracks[1];
    ASSERT_EQ(out.events.size(), 4u);
    EXPECT_EQ(out.events[0].tick, 100u);
    EXPECT_EQ(out.events[1].tick, 340u);
    EXPECT_EQ(out.events[2].tick, 540u);
    EXPECT_EQ(out.events[3].tick, 730u);  // the stop's output: 480 + 240 played twice, + 10
    EXPECT_GE(out.endTick, 720u);
}

TEST_F(RenderTest, TheTailPlaysOnAfterTheLastEventAndTheFileEndsWithIt) {
    Duration none, halfSecond, twoBars;
    halfSecond.micros = 500000;
    twoBars.unit = Duration::Unit::Bars;
    twoBars.bars = 2;
    struct Case {
        bool untilQuiet;
        Duration tail;
        int32_t numerator, denominatorPower;
        uint32_t tailTicks;
    } cases[] = {
        {true, none, 4, 2, 1920},        // nothing comes out: quiet for a bar of 4/4
        {true, none, 3, 3, 720},         // a bar of 3/8
        {false, none, 4, 2, 0},          // --tail 0: stop at the last event
        {false, halfSecond, 4, 2, 480},  // at 120 BPM
        {false, twoBars, 3, 2, 2880},
    };
    for (const Case& c : cases) {
        midifile::Song song;
        song.division = 480;
        song.meters = {{0, uint8_t(c.numerator), uint8_t(c.denominatorPower), 24, 8}};
        song.tracks.resize(1);
        song.tracks[0].events = {channel(0, 0xB0, 7, 100)};
        song.tracks[0].endTick = 300;
        RenderSettings settings;
        settings.tailUntilQuiet = c.untilQuiet;
        settings.tail = c.tail;
        module_.calls.clear();
        RenderResult result;
        ASSERT_TRUE(render(song, settings, result));
        const uint32_t stop = 300 + c.tailTicks;
        EXPECT_EQ(result.tailTicks, c.tailTicks);
        EXPECT_NE(std::find(module_.calls.begin(), module_.calls.end(), "stop " + std::to_string(stop)),
                  module_.calls.end())
            << c.tailTicks;
        const midifile::Track& out = result.output.tracks[1];
        ASSERT_EQ(out.events.size(), 2u);
        EXPECT_EQ(out.events[1].tick, stop + 10) << "the stop's output is timed from the stop";
        EXPECT_EQ(out.endTick, stop + 10);
    }
}

TEST_F(RenderTest, TempoAndMeterChangesFeedTheTimeMap) {
    midifile::Song song;
    song.division = 240;
    song.tempos = {{0, 500000}, {960, 1000000}};
    song.meters = {{0, 6, 3, 24, 8}};
    song.tracks.resize(1);
    song.tracks[0].endTick = 1920;
    RenderResult result;
    ASSERT_TRUE(render(song, RenderSettings(), result));
    TimeMap& map = host_->timeMap();
    EXPECT_EQ(map.timeBase(), 240);
    ASSERT_EQ(map.tempoCount(), 2);
    EXPECT_EQ(map.tempoAt(0), 12000);
    EXPECT_EQ(map.tempoAt(960), 6000);
    EXPECT_EQ(map.meterAt(0).numerator, 6);
    EXPECT_EQ(map.meterAt(0).denominator, 8);
    EXPECT_EQ(result.songMicros, 2000000 + 4000000);
}

}  // namespace
