// Event processing of the real module with the real test filter: ranges, live events,
// transport, and the order of output.
#include "ModuleFixture.h"

namespace {

using namespace fixture;
using Strings = std::vector<std::string>;

class Processing : public InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        init();
    }
    std::vector<OutputRecord> output() { return events().output(); }
    std::vector<OutputRecord> takeOutput() { return events().takeOutput(); }
    const Strings transport() {
        return calls({TfBeginPlayback, TfLoopPlayback, TfEndPlayback, TfFilterEvents, TfFilterLiveEvents});
    }
    // Times of the records the filter received in its last filterEvents call.
    std::vector<int32_t> lastInputTimes() {
        std::vector<int32_t> times;
        for (int32_t i = control.LogCount() - 1; i >= 0; --i)
            if (control.entry(i).site == TfFilterEvents) {
                for (const MfxEvent& e : control.events(i)) times.push_back(e.time);
                break;
            }
        return times;
    }
};

TEST_F(Processing, RangeGivesTheFilterTheInclusiveRangeAndEveryEarlierEvent) {
    send(events().newNote(-50, 0, 60, 100, 10));
    send(events().newNote(479, 0, 61, 100, 10));
    send(events().newNote(480, 0, 62, 100, 10));
    instance->process(0, 480, 0);
    EXPECT_EQ(transport(), (Strings{"beginPlayback(0)", "filterEvents(0,479)"}));
    EXPECT_EQ(lastInputTimes(), (std::vector<int32_t>{-50, 479}));
    // Pass-through output reaches the host as timed events, each given back once.
    auto out = output();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].how, OutputKind::Timed);
    EXPECT_EQ(out[0].event.data1, 60u);
    EXPECT_EQ(out[0].event.duration, 10u);
    EXPECT_EQ(out[1].event.time, 479);
    instance->process(480, 960, 0);
    EXPECT_EQ(lastInputTimes(), (std::vector<int32_t>{480}));
    EXPECT_EQ(events().liveHandles(), 0);
}

TEST_F(Processing, EmptyRangeOnlyClearsTheSkip) {
    instance->process(100, 100, 0);
    EXPECT_TRUE(transport().empty());
    instance->stop(0);
    control.ClearLog();
    instance->process(100, 100, 0);  // clears skipNext without calling the filter
    instance->process(100, 200, 0);
    EXPECT_EQ(transport(), (Strings{"beginPlayback(100)", "filterEvents(100,199)"}));
}

TEST_F(Processing, BeginPlaybackOnlyOnTheFirstRangeAfterAStop) {
    instance->process(0, 480, 0);
    instance->process(480, 960, 0);
    instance->stop(960);
    instance->process(960, 1440, 0);  // skipped
    instance->process(0, 480, 0);
    EXPECT_EQ(transport(), (Strings{"beginPlayback(0)", "filterEvents(0,479)", "filterEvents(480,959)",
                                    "endPlayback(960)", "beginPlayback(0)", "filterEvents(0,479)"}));
}

TEST_F(Processing, StopCallsEndPlaybackEvenWhenNeverStarted) {
    instance->stop(5);
    EXPECT_EQ(transport(), (Strings{"endPlayback(5)"}));
}

TEST_F(Processing, StopOutputIsSentAtTheNextIdleCallRelativeToTheStop) {
    MfxEvent cc = controllerRecord(1010, 7, 99);
    control.AddOutput(TfEndPlayback, &cc);
    instance->process(0, 480, 0);
    takeOutput();
    instance->stop(1000);
    EXPECT_TRUE(output().empty());
    instance->process(0, 0, 1);
    auto out = takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].how, OutputKind::Now);
    EXPECT_EQ(out[0].event.kind, 0xB0u);
    EXPECT_EQ(out[0].event.time, 10);
    EXPECT_TRUE(out[0].event.live);
    instance->process(0, 0, 1);
    EXPECT_TRUE(output().empty());
    EXPECT_EQ(events().liveHandles(), 0);
}

TEST_F(Processing, StopDropsPendingCopiesAndGivesThemBack) {
    send(events().newNote(100, 0, 60, 100, 10));
    send(events().newNote(200, 0, 61, 100, 10));
    EXPECT_EQ(events().liveHandles(), 2);
    instance->stop(0);
    EXPECT_EQ(events().liveHandles(), 0);
    instance->process(0, 480, 0);  // skipped
    instance->process(0, 480, 0);
    EXPECT_TRUE(lastInputTimes().empty());
    EXPECT_TRUE(events().balanced());
}

TEST_F(Processing, RepositionWhilePlayingStopsAtTheLastEnd) {
    instance->process(0, 480, 0);
    instance->reposition(0);
    instance->process(0, 480, 0);  // skipped
    EXPECT_EQ(transport(), (Strings{"beginPlayback(0)", "filterEvents(0,479)", "endPlayback(479)"}));
    control.ClearLog();
    instance->reposition(0);  // not playing: only skips the next range
    instance->process(480, 960, 0);
    instance->process(480, 960, 0);
    EXPECT_EQ(transport(), (Strings{"beginPlayback(480)", "filterEvents(480,959)"}));
}

TEST_F(Processing, CycleJumpMovesPendingEventsBackAndDropsLateOnes) {
    send(events().newNote(1200, 0, 60, 100, 10));
    send(events().newNote(2000, 0, 61, 100, 10));
    instance->cycleJump(0, 1000);
    EXPECT_TRUE(transport().empty());  // not started: the filter is not told
    EXPECT_EQ(events().liveHandles(), 1);  // the dropped copy was given back
    instance->process(0, 480, 0);
    EXPECT_EQ(lastInputTimes(), (std::vector<int32_t>{200}));
    EXPECT_TRUE(events().balanced());
}

TEST_F(Processing, OutputOfARangeComesInOrderBeginLoopFilter) {
    MfxEvent begin = controllerRecord(0, 1, 1), loop = controllerRecord(0, 2, 2), filtered = controllerRecord(0, 3, 3);
    control.SetMode(TfSwallow, 0);
    control.AddOutput(TfBeginPlayback, &begin);
    control.AddOutput(TfLoopPlayback, &loop);
    control.AddOutput(TfFilterEvents, &filtered);
    instance->process(0, 480, 0);
    instance->cycleJump(0, 480);
    instance->stop(480);
    instance->process(0, 0, 1);
    instance->process(0, 480, 0);  // skipped after the stop
    takeOutput();
    instance->cycleJump(0, 480);  // not started: no loop output
    instance->process(0, 480, 0);
    instance->cycleJump(0, 480);
    instance->process(0, 480, 0);
    Strings order;
    for (const OutputRecord& r : output()) order.push_back(std::to_string(r.event.data1));
    EXPECT_EQ(order, (Strings{"1", "3", "2", "3"}));
}

TEST_F(Processing, AFailedFilterCallSendsNothingButLoopOutputStillGoes) {
    MfxEvent loop = controllerRecord(0, 2, 2);
    control.AddOutput(TfLoopPlayback, &loop);
    instance->process(0, 480, 0);
    instance->cycleJump(0, 480);
    control.SetResult(TfFilterEvents, E_FAIL);
    send(events().newNote(10, 0, 60, 100, 5));
    takeOutput();
    instance->process(0, 480, 0);
    auto out = output();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].event.data1, 2u);
    EXPECT_EQ(events().liveHandles(), 0);  // the consumed input was given back
}

TEST_F(Processing, LiveEventsPassAtOnceMarkedLiveWithoutDuration) {
    control.SetMode(TfTranspose, 12);
    HostEvent live = events().newEvent(300, 0x91, 60, 100);
    events().markLive(live, true);
    instance->onEvent(live);
    events().discard(live);
    auto log = control.log({TfFilterLiveEvents});
    ASSERT_EQ(log.size(), 1u);
    auto received = control.shortEvents(control.LogCount() - 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].status, 0x91);
    EXPECT_EQ(received[0].time, 300);
    auto out = output();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].how, OutputKind::Now);
    EXPECT_TRUE(out[0].event.live);
    EXPECT_EQ(out[0].event.duration, 0u);
    EXPECT_EQ(out[0].event.data1, 72u);
    EXPECT_EQ(out[0].event.channel, 1);
    instance->process(0, 480, 0);
    EXPECT_TRUE(lastInputTimes().empty());  // it never entered the pending list
    EXPECT_TRUE(events().balanced());
}

TEST_F(Processing, IdleCallsRunTheFilterOnlyWhileItsTimerIsOn) {
    instance->process(0, 0, 1);
    EXPECT_TRUE(control.log({TfFilterLiveEvents}).empty());
    ASSERT_EQ(S_OK, control.StartTimer());
    MfxShortEvent tick = {0, 0xB0, 10, 20, 0};
    control.AddShortOutput(&tick);
    instance->process(0, 0, 1);
    instance->process(0, 0, 1);
    EXPECT_EQ(control.log({TfFilterLiveEvents}).size(), 2u);
    EXPECT_EQ(control.shortEvents(control.LogCount() - 1).size(), 0u);  // empty input
    auto out = output();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].how, OutputKind::Now);
    EXPECT_TRUE(out[0].event.live);
    ASSERT_EQ(S_OK, control.StopTimer());
    control.ClearLog();
    instance->process(0, 0, 1);
    EXPECT_TRUE(control.log({TfFilterLiveEvents}).empty());
}

TEST_F(Processing, DirectOutputThroughTheHostContext) {
    MfxEvent note = noteRecord(0, 64, 90, 240);
    ASSERT_EQ(S_OK, control.SendEvent(&note));  // route 0: split into on and off at once
    note.route = 0xFF;
    ASSERT_EQ(S_OK, control.SendEvent(&note));  // unsplit, handed over
    auto out = output();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].how, OutputKind::Now);
    EXPECT_EQ(out[0].event.data2, 90u);
    EXPECT_EQ(out[1].event.data2, 0u);
    EXPECT_EQ(out[1].event.time, 240);
    EXPECT_EQ(out[2].how, OutputKind::HandedOver);
    EXPECT_EQ(out[2].event.duration, 240u);
    EXPECT_TRUE(events().balanced());
}

TEST_F(Processing, SysexFromTheFilterReachesTheHostAndItsBlockIsFreed) {
    const uint8_t bytes[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    control.AddSysexOutput(TfFilterEvents, 5, bytes, sizeof bytes);
    instance->process(0, 480, 0);
    auto out = output();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].event.sysex, std::vector<uint8_t>(bytes, bytes + sizeof bytes));
    EXPECT_EQ(out[0].event.time, 5);
}

TEST_F(Processing, AHostThatReentersFromDirectOutputLosesNothing) {
    // The filter sends a note from inside filterEvents; the host's output path plays the
    // next range at once, while the outer call's lists are still the filter's. The filter
    // also keeps each call's input list and reads it in its next call, the inner one's too.
    control.SetMisbehave(TfFilterEvents, TfMisKeep);
    const MfxEvent direct = noteRecord(0, 70, 90, 240);
    control.AddAction(TfFilterEvents, TfActionSendEvent, &direct);
    bool reentered = false;
    host->onOutputNow = [&] {
        if (reentered) return;
        reentered = true;
        instance->process(480, 960, 0);
    };
    send(events().newNote(10, 0, 60, 100, 10));
    send(events().newNote(500, 0, 61, 100, 10));
    instance->process(0, 480, 0);
    host->onOutputNow = nullptr;
    EXPECT_TRUE(reentered);
    std::vector<uint32_t> timedKeys;
    int now = 0;
    for (const OutputRecord& r : output()) {
        if (r.how == OutputKind::Timed) timedKeys.push_back(r.event.data1);
        if (r.how == OutputKind::Now) ++now;
    }
    EXPECT_EQ(timedKeys, (std::vector<uint32_t>{61, 60}));  // the inner range's, then the outer's
    EXPECT_EQ(now, 4);                                      // each call's direct note, on and off
    EXPECT_EQ(events().liveHandles(), 0);
}

TEST_F(Processing, AStaleOrInventedSysexHandleIsRefusedAndNeverAliasesANewBlock) {
    // Pass a block through, then make the filter re-emit its record (a delaying filter's
    // stale handle) and an invented handle while a block of the same size passes.
    send(events().newSysex(5, {0xF0, 0x01, 0x02, 0xF7}));
    instance->process(0, 480, 0);
    ASSERT_EQ(output().size(), 1u);
    std::vector<MfxEvent> seen;
    for (int32_t i = control.LogCount() - 1; i >= 0 && seen.empty(); --i)
        if (control.entry(i).site == TfFilterEvents) seen = control.events(i);
    ASSERT_EQ(seen.size(), 1u);
    MfxEvent stale = seen[0];
    stale.time = 600;
    MfxEvent invented = stale;
    mfxdata::setBlockHandle(invented, 0x00ABC000);
    takeOutput();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        control.ClearLog();
        send(events().newSysex(480 * (round + 1) + 10, {0xF0, 0x0A, uint8_t(round), 0xF7}));
        if (round == 0) {
            control.AddOutput(TfFilterEvents, &stale);
            control.AddOutput(TfFilterEvents, &invented);
        }
        instance->process(480 * (round + 1), 480 * (round + 2), 0);
        auto out = takeOutput();
        ASSERT_EQ(out.size(), 1u);  // only the block that passed through
        EXPECT_EQ(out[0].event.sysex, (std::vector<uint8_t>{0xF0, 0x0A, uint8_t(round), 0xF7}));
    }
    EXPECT_EQ(events().liveHandles(), 0);
}

TEST_F(Processing, CallsOutsideTheInitialisedStateDoNothing) {
    HostEvent note = events().newNote(10, 0, 60, 100, 10);
    ASSERT_EQ(S_OK, instance->terminate());
    initialised = false;
    control.ClearLog();
    EXPECT_EQ(E_UNEXPECTED, instance->onEvent(note));
    EXPECT_EQ(S_OK, instance->process(0, 480, 0));
    EXPECT_EQ(S_OK, instance->process(0, 0, 1));
    EXPECT_EQ(S_OK, instance->stop(0));
    EXPECT_EQ(S_OK, instance->reposition(0));
    EXPECT_EQ(S_OK, instance->cycleJump(0, 100));
    EXPECT_TRUE(transport().empty());
    events().discard(note);
    EXPECT_TRUE(events().balanced());
}

TEST_F(Processing, TerminateGivesBackWaitingCopiesAndReleasesTheHost) {
    send(events().newNote(100, 0, 60, 100, 10));
    ASSERT_EQ(S_OK, instance->terminate());
    initialised = false;
    EXPECT_EQ(calls({TfDetachHost}), (Strings{"detachHost"}));
    EXPECT_TRUE(events().balanced());
    EXPECT_EQ(host->refCount(), 1);
    EXPECT_EQ(control.counts().hostRefsHeld, 0);
    // Initialised again, it works as before.
    init();
    send(events().newNote(100, 0, 60, 100, 10));
    instance->process(0, 480, 0);
    EXPECT_EQ(lastInputTimes(), (std::vector<int32_t>{100}));
}

}  // namespace
