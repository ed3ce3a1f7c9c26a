#include <cstdio>

#include "FilterFakes.h"
#include "echo/Echo.h"

namespace {

struct Heard {
    int32_t time;
    int velocity;
    bool operator==(const Heard& o) const { return time == o.time && velocity == o.velocity; }
};

std::ostream& operator<<(std::ostream& s, const Heard& h) { return s << "{" << h.time << ", " << h.velocity << "}"; }

std::vector<Heard> heard(const std::vector<MfxEvent>& records) {
    std::vector<Heard> out;
    for (const MfxEvent& e : records) out.push_back({e.time, e.type == MfxNote ? e.data[1] : -1});
    return out;
}

class EchoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(dll.module(), nullptr);
        filter = dll.create<IMfxFilterPlugin>(CLSID_Echo, mfxid::IMfxFilterPlugin);
        ASSERT_TRUE(filter);
        ASSERT_EQ(filter->QueryInterface(IID_ISampleParameters, params.putVoid()), S_OK);
    }
    void set(int32_t repeats, int32_t step, int32_t decay) {
        ASSERT_EQ(params->setParameter(Echo::Repeats, repeats), S_OK);
        ASSERT_EQ(params->setParameter(Echo::StepHundredths, step), S_OK);
        ASSERT_EQ(params->setParameter(Echo::DecayPercent, decay), S_OK);
    }
    std::vector<MfxEvent> run(int32_t first, int32_t last, std::vector<MfxEvent> input) {
        FakeEventList in(std::move(input)), out;
        EXPECT_EQ(filter->filterEvents(first, last, &in, &out), S_OK);
        return out.records;
    }

    ComScope com;
    FilterDll dll{"echo.dll"};
    ComRef<IMfxFilterPlugin> filter;
    ComRef<ISampleParameters> params;
};

TEST_F(EchoTest, RepeatsAreTimedInHostTicksPerBeatWithDecayingVelocity) {
    struct Case {
        bool hostAnswers;
        int32_t timeBase;
        int32_t repeats, step, decay;
        std::vector<Heard> expected;
    } cases[] = {
        // Half a beat at 960 ticks per quarter is 480 ticks.
        {true, 960, 3, 50, 50, {{0, 100}, {480, 50}, {960, 25}, {1440, 13}}},
        // No tempo interface, or a time base of 0: 480 ticks per quarter.
        {false, 0, 2, 100, 0, {{0, 100}, {480, 100}, {960, 100}}},
        {true, 0, 1, 25, 10, {{0, 100}, {120, 90}}},
        // Repeats stop when the velocity would fall below 1.
        {true, 96, 8, 100, 90, {{0, 100}, {96, 10}, {192, 1}}},
        {true, 96, 8, 100, 100, {{0, 100}}},
    };
    for (const Case& c : cases) {
        FakeHost host(c.hostAnswers, c.timeBase);
        ASSERT_EQ(filter->attachHost(host.unknown()), S_OK);
        set(c.repeats, c.step, c.decay);
        EXPECT_EQ(heard(run(0, 100000, {note(0, 60, 100)})), c.expected) << "time base " << c.timeBase;
        EXPECT_EQ(host.timeBaseCalls, c.hostAnswers ? 1 : 0);
        EXPECT_EQ(filter->detachHost(), S_OK);
        EXPECT_EQ(host.refs, 1) << "the filter gives its host references back at detach";
    }
}

TEST_F(EchoTest, RepeatsKeepKeyChannelDurationAndReleaseVelocity) {
    set(1, 100, 0);
    std::vector<MfxEvent> out = run(0, 10000, {note(0, 64, 80, 123, 9)});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].time, 480);
    EXPECT_EQ(out[1].channel, 9);
    EXPECT_EQ(out[1].data[0], 64);
    EXPECT_EQ(out[1].data[2], 40);
    EXPECT_EQ(mfxdata::noteDuration(out[1]), 123u);
}

TEST_F(EchoTest, OtherEventsPassOnceAndOutputIsInTimeOrder) {
    set(2, 50, 0);  // 240 ticks apart
    std::vector<MfxEvent> out =
        run(0, 10000, {note(0, 60, 100), record(100, MfxController, 7, 1), note(300, 62, 90),
                       record(400, MfxSysex, 0)});
    std::vector<Heard> expected = {{0, 100}, {100, -1}, {240, 100}, {300, 90}, {400, -1}, {480, 100}, {540, 90},
                                   {780, 90}};
    EXPECT_EQ(heard(out), expected);
}

TEST_F(EchoTest, RepeatsAfterTheRangeComeOutInTheRangeTheyFallIn) {
    set(3, 100, 0);  // at 480, 960, 1440
    EXPECT_EQ(heard(run(0, 479, {note(100, 60, 100)})), (std::vector<Heard>{{100, 100}}));
    EXPECT_EQ(heard(run(480, 959, {note(500, 62, 70)})), (std::vector<Heard>{{500, 70}, {580, 100}}));
    EXPECT_EQ(heard(run(960, 1439, {})), (std::vector<Heard>{{980, 70}, {1060, 100}}));
    EXPECT_EQ(heard(run(1440, 1919, {})), (std::vector<Heard>{{1460, 70}, {1540, 100}}));
    EXPECT_EQ(heard(run(1920, 2399, {})), (std::vector<Heard>{{1940, 70}}));
    EXPECT_TRUE(run(2400, 4799, {}).empty());
}

TEST_F(EchoTest, StopDropsHeldRepeatsAndALoopMovesThemBack) {
    set(2, 100, 0);
    FakeEventList sink;
    run(0, 479, {note(400, 60, 100)});  // repeats at 880 and 1360 held
    EXPECT_EQ(filter->endPlayback(479, &sink), S_OK);
    EXPECT_TRUE(run(480, 4000, {}).empty());

    run(0, 999, {note(900, 60, 100)});  // repeats at 1380 and 1860 held
    // Cycle 0..1000: playback jumps back from 1000 to 0, the repeats follow to 380 and 860.
    EXPECT_EQ(filter->loopPlayback(0, 1000, &sink), S_OK);
    EXPECT_EQ(heard(run(0, 999, {})), (std::vector<Heard>{{380, 100}, {860, 100}}));
    EXPECT_TRUE(sink.records.empty());

    // A fresh start forgets repeats of an earlier run.
    run(0, 99, {note(50, 60, 100)});
    EXPECT_EQ(filter->beginPlayback(0, &sink), S_OK);
    EXPECT_TRUE(run(0, 5000, {}).empty());
}

TEST_F(EchoTest, ParameterRangesAreChecked) {
    struct Case {
        int32_t index, value;
        HRESULT result;
    } cases[] = {{Echo::Repeats, 0, E_INVALIDARG},       {Echo::Repeats, 9, E_INVALIDARG},
                 {Echo::Repeats, 8, S_OK},               {Echo::StepHundredths, 0, E_INVALIDARG},
                 {Echo::StepHundredths, 1601, E_INVALIDARG}, {Echo::StepHundredths, 1600, S_OK},
                 {Echo::DecayPercent, -1, E_INVALIDARG}, {Echo::DecayPercent, 101, E_INVALIDARG},
                 {Echo::DecayPercent, 100, S_OK},        {3, 0, E_INVALIDARG}};
    for (const Case& c : cases) EXPECT_EQ(params->setParameter(c.index, c.value), c.result) << c.index << "=" << c.value;
}

TEST_F(EchoTest, LiveNotesAreRepeatedAndReleasedWhilePeriodicCallsAreOn) {
    struct Case {
        int32_t repeats, decay;
        std::vector<int> velocities;  // of the note and its repeats
    } cases[] = {{3, 30, {100, 70, 49, 34}}, {8, 90, {100, 10, 1}}, {2, 0, {100, 100, 100}}};
    for (const Case& c : cases) {
        FakeHost host(true, 480);
        host.answersTimer = true;
        ASSERT_EQ(filter->attachHost(host.unknown()), S_OK);
        set(c.repeats, 50, c.decay);  // 250 ms apart: the fake host has no tempo map, so 120 BPM
        std::vector<MfxShortEvent> heard;
        auto play = [&](std::vector<MfxShortEvent> input) {
            FakeShortEventList in(std::move(input)), out;
            EXPECT_EQ(filter->filterLiveEvents(&in, &out), S_OK);
            heard.insert(heard.end(), out.records.begin(), out.records.end());
        };
        play({shortEvent(7, 0x93, 60, 100), shortEvent(7, 0xB3, 1, 2)});
        EXPECT_TRUE(host.timerOn);
        play({shortEvent(7, 0x83, 60, 33)});
        // The periodic calls, until the filter switches them off (or five seconds pass).
        for (DWORD start = GetTickCount(); host.timerOn && GetTickCount() - start < 5000; Sleep(1)) play({});
        EXPECT_FALSE(host.timerOn);
        EXPECT_EQ(host.timerStarts, 1);
        EXPECT_EQ(host.timerStops, 1);
        // Each repeat is as long as the played note, so the releases alternate with the notes.
        std::vector<std::string> expected = {"93 3C 64", "B3 01 02", "83 3C 21"};
        for (size_t r = 1; r < c.velocities.size(); ++r) {
            char text[16];
            std::snprintf(text, sizeof text, "93 3C %02X", c.velocities[r]);
            expected.push_back(text);
            expected.push_back("83 3C 21");
        }
        std::vector<std::string> got;
        for (const MfxShortEvent& e : heard) {
            char text[16];
            std::snprintf(text, sizeof text, "%02X %02X %02X", e.status, e.data1, e.data2);
            got.push_back(text);
            EXPECT_EQ(e.time, 7);
        }
        EXPECT_EQ(got, expected) << c.repeats << " repeats";
        EXPECT_EQ(filter->detachHost(), S_OK);
    }
}

}  // namespace
