#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "EventStore.h"
#include "WinSync.h"

namespace {

TEST(EventStore, CreateTakesKindAndChannelFromTheStatus) {
    struct Case {
        uint32_t status;
        uint32_t kind;
        int32_t channel;
    } cases[] = {
        {0x93, 0x90, 3}, {0x80, 0x80, 0}, {0xC5, 0xC0, 5}, {0xEF, 0xE0, 15},
        {0xF8, 0xF0, -1}, {0x00, 0x00, -1}, {0x3C, 0x30, -1},
    };
    EventStore store;
    HostEvent last = 0;
    for (const Case& c : cases) {
        HostEvent h = store.createEvent(c.status, 60, 100, 480);
        ASSERT_NE(h, 0u);
        EXPECT_GT(h, last);
        last = h;
        EXPECT_EQ(store.eventKind(h), c.kind) << std::hex << c.status;
        EXPECT_EQ(store.eventChannel(h), c.channel) << std::hex << c.status;
        EXPECT_EQ(store.eventData1(h), 60u);
        EXPECT_EQ(store.eventData2(h), 100u);
        EXPECT_EQ(store.eventDuration(h), 480u);
        EXPECT_EQ(store.isLive(h), 0);
    }
    EXPECT_EQ(store.createdCount(), 7);
    EXPECT_EQ(store.liveHandles(), 7);
}

TEST(EventStore, SettersAndChannelNone) {
    EventStore store;
    HostEvent h = store.createEvent(0x90, 1, 2, 0);
    EXPECT_EQ(store.setEventTime(h, -77), 0);
    EXPECT_EQ(store.setEventDuration(h, 96), 0);
    EXPECT_EQ(store.setLive(h, 1), 0);
    EXPECT_EQ(store.setReleaseVelocity(h, 40), 0);
    EXPECT_EQ(store.setEventChannel(h, 9), 0);
    EXPECT_EQ(store.eventTime(h), -77);
    EXPECT_EQ(store.eventDuration(h), 96u);
    EXPECT_EQ(store.isLive(h), 1);
    EXPECT_EQ(store.releaseVelocity(h), 40u);
    EXPECT_EQ(store.eventChannel(h), 9);
    EXPECT_EQ(store.setEventChannel(h, 0xFF), 0);
    EXPECT_EQ(store.eventChannel(h), -1);
}

TEST(EventStore, SysexKeepsItsBytes) {
    EventStore store;
    const uint8_t bytes[] = {0xF0, 0x7E, 0x01, 0xF7};
    HostEvent h = store.createSysexEvent(bytes, 4);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(store.eventKind(h), 0xF0u);
    EXPECT_EQ(store.eventChannel(h), -1);
    ASSERT_EQ(store.sysexLength(h), 4u);
    EXPECT_EQ(std::vector<uint8_t>(store.sysexData(h), store.sysexData(h) + 4),
              std::vector<uint8_t>(bytes, bytes + 4));
    HostEvent note = store.createEvent(0x90, 1, 1, 0);
    EXPECT_EQ(store.sysexLength(note), 0u);
    EXPECT_EQ(store.sysexData(note), nullptr);
    EXPECT_EQ(store.createSysexEvent(nullptr, 3), 0u);
    EXPECT_EQ(store.failedCreates(), 1);
    EXPECT_EQ(store.createdCount(), 2);
}

TEST(EventStore, EveryModuleHandleGivenBackOnceBalances) {
    EventStore store;
    HostEvent host = store.newNote(100, 2, 60, 90, 240, 30);
    HostEvent copy = store.copyEvent(host);
    HostEvent made = store.createEvent(0xB0, 7, 100, 0);
    EXPECT_EQ(store.liveHandles(), 2);
    EXPECT_EQ(store.hostHandles(), 1);
    EXPECT_EQ(store.liveHandleList(), (std::vector<HostEvent>{copy, made}));
    EventData d;
    ASSERT_TRUE(store.get(copy, &d));
    EXPECT_EQ(d.time, 100);
    EXPECT_EQ(d.channel, 2);
    EXPECT_EQ(d.duration, 240u);
    EXPECT_EQ(d.releaseVelocity, 30u);
    EXPECT_FALSE(store.balanced());

    EXPECT_EQ(store.releaseEvent(copy), 0);
    EXPECT_EQ(store.releaseEvent(made), 0);
    EXPECT_TRUE(store.balanced());
    EXPECT_EQ(store.copiedCount(), 1);
    EXPECT_EQ(store.createdCount(), 1);
    EXPECT_EQ(store.releasedCount(), 2);
    EXPECT_TRUE(store.exists(host));
    // Handles are never reused.
    HostEvent next = store.createEvent(0x90, 1, 1, 0);
    EXPECT_GT(next, made);
}

TEST(EventStore, FaultsAreCountedNeverFatal) {
    EventStore store;
    HostEvent host = store.newEvent(0, 0xC1, 5, 0);
    HostEvent h = store.createEvent(0x90, 60, 100, 0);
    ASSERT_EQ(store.releaseEvent(h), 0);

    EXPECT_EQ(store.releaseEvent(h), 1);           // double release
    EXPECT_EQ(store.eventTime(h), 0);              // stale
    EXPECT_EQ(store.setEventTime(h, 5), 1);        // stale
    EXPECT_EQ(store.outputEvent(h), 1);            // stale
    EXPECT_EQ(store.releaseEvent(0), 1);           // unknown
    EXPECT_EQ(store.releaseEvent(9999), 1);        // unknown
    EXPECT_EQ(store.eventChannel(9999), -1);       // unknown
    EXPECT_EQ(store.copyEvent(9999), 0u);          // unknown
    EXPECT_EQ(store.releaseEvent(host), 1);        // the host's own event
    EXPECT_EQ(store.handOverEvent(host), 1);

    EXPECT_EQ(store.doubleReleases(), 1);
    EXPECT_EQ(store.staleHandleUses(), 3);
    EXPECT_EQ(store.unknownHandleUses(), 4);
    EXPECT_EQ(store.foreignReleases(), 2);
    EXPECT_TRUE(store.exists(host));
    EXPECT_EQ(store.liveHandles(), 0);
    EXPECT_FALSE(store.balanced());
    EXPECT_TRUE(store.output().empty());
}

TEST(EventStore, HandOverGivesBackAndIsRecorded) {
    EventStore store;
    HostEvent h = store.createEvent(0x92, 64, 80, 120);
    store.setLive(h, 1);
    EXPECT_EQ(store.handOverEvent(h, 333, Via::EventServices), 0);
    EXPECT_EQ(store.liveHandles(), 0);
    EXPECT_EQ(store.handedOverCount(), 1);
    EXPECT_EQ(store.releaseEvent(h), 1);
    EXPECT_EQ(store.doubleReleases(), 1);
    auto out = store.output();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].how, OutputKind::HandedOver);
    EXPECT_EQ(out[0].via, Via::EventServices);
    EXPECT_EQ(out[0].hostPosition, 333);
    EXPECT_EQ(out[0].event.channel, 2);
    EXPECT_TRUE(out[0].event.live);
}

TEST(EventStore, OutputRecordsSnapshotInOrder) {
    EventStore store;
    HostEvent a = store.createEvent(0x90, 60, 100, 480);
    HostEvent b = store.copyEvent(store.newEvent(10, 0xB3, 7, 64));
    store.setEventTime(a, 960);
    EXPECT_EQ(store.outputEvent(a, 0, Via::MidiModuleHost), 0);
    store.setEventTime(a, 1);  // after output: not in the record
    EXPECT_EQ(store.outputEventNow(b, 50, Via::MidiModuleHost), 0);
    store.releaseEvent(a);
    store.releaseEvent(b);

    auto out = store.output();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].handle, a);
    EXPECT_EQ(out[0].how, OutputKind::Timed);
    EXPECT_EQ(out[0].origin, Origin::Created);
    EXPECT_EQ(out[0].event.time, 960);
    EXPECT_EQ(out[0].event.kind, 0x90u);
    EXPECT_EQ(out[0].event.duration, 480u);
    EXPECT_EQ(out[1].handle, b);
    EXPECT_EQ(out[1].how, OutputKind::Now);
    EXPECT_EQ(out[1].origin, Origin::Copied);
    EXPECT_EQ(out[1].hostPosition, 50);
    EXPECT_EQ(out[1].event.time, 10);
    EXPECT_EQ(out[1].event.channel, 3);
    EXPECT_LT(out[0].sequence, out[1].sequence);
    EXPECT_TRUE(store.balanced());

    // The journal shows the release after the output of the same handle.
    auto journal = store.journal();
    size_t outputAt = 0, releaseAt = 0;
    for (size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].handle != a) continue;
        if (journal[i].op == EventOp::Output) outputAt = i;
        if (journal[i].op == EventOp::Release) releaseAt = i;
    }
    EXPECT_GT(releaseAt, outputAt);
    EXPECT_EQ(store.takeOutput().size(), 2u);
    EXPECT_TRUE(store.output().empty());
}

TEST(EventStore, FailedCreatesAnswerZero) {
    EventStore store;
    HostEvent host = store.newNote(0, 0, 60, 100, 0);
    store.failNextCreates(2);
    EXPECT_EQ(store.createEvent(0x90, 1, 1, 0), 0u);
    EXPECT_EQ(store.copyEvent(host), 0u);
    EXPECT_NE(store.createEvent(0x90, 1, 1, 0), 0u);
    EXPECT_EQ(store.failedCreates(), 2);
    EXPECT_EQ(store.liveHandles(), 1);
}

TEST(EventStore, HostEventsCanBeMarkedLiveAndDiscarded) {
    EventStore store;
    HostEvent host = store.newSysex(5, {0xF0, 0xF7});
    HostEvent made = store.createEvent(0x90, 1, 1, 0);
    EXPECT_TRUE(store.markLive(host, true));
    EXPECT_EQ(store.isLive(host), 1);
    EXPECT_EQ(store.eventTime(host), 5);
    EXPECT_FALSE(store.discard(made));
    EXPECT_TRUE(store.discard(host));
    EXPECT_FALSE(store.exists(host));
    EXPECT_EQ(store.liveHandles(), 1);
}

TEST(EventStore, ThreadsShareOneStore) {
    EventStore store;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            HostEvent h = store.createEvent(0x90, 60, 100, 0);
            store.outputEvent(h);
            store.releaseEvent(h);
        }
    };
    Thread t1(work), t2(work);
    t1.join();
    t2.join();
    EXPECT_EQ(store.createdCount(), 4000);
    EXPECT_EQ(store.releasedCount(), 4000);
    EXPECT_EQ(store.output().size(), 4000u);
    EXPECT_TRUE(store.balanced());
}

// Slots are reused, handles never: every handle ever given back stays stale, also once its
// slot has spent all its generations and retired.
TEST(EventStore, HandlesOfReusedSlotsStayDistinctAndStale) {
    EventStore store;
    HostEvent host = store.newNote(7, 0, 60, 90, 0);
    std::vector<HostEvent> given;
    for (int i = 0; i < 2500; ++i) {
        HostEvent a = store.createEvent(0x90, 60, 100, 0);
        HostEvent b = store.copyEvent(host);
        ASSERT_NE(a, 0u);
        ASSERT_NE(b, 0u);
        ASSERT_EQ(store.setEventTime(a, i), 0);
        ASSERT_EQ(store.eventTime(a), i);
        ASSERT_EQ(store.eventTime(b), 7);
        ASSERT_EQ(store.releaseEvent(b), 0);
        ASSERT_EQ(store.handOverEvent(a), 0);
        given.push_back(a);
        given.push_back(b);
    }
    std::vector<HostEvent> sorted(given);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(std::count(given.begin(), given.end(), host), 0);

    int32_t stale = store.staleHandleUses();
    for (HostEvent h : given) EXPECT_EQ(store.eventKind(h), 0u);
    EXPECT_EQ(store.staleHandleUses(), stale + int32_t(given.size()));
    for (HostEvent h : given) EXPECT_EQ(store.releaseEvent(h), 1);
    EXPECT_EQ(store.doubleReleases(), int32_t(given.size()));
    EXPECT_EQ(store.unknownHandleUses(), 0);
    EXPECT_EQ(store.eventTime(host), 7);
    EXPECT_EQ(store.hostHandles(), 1);
    EXPECT_EQ(store.liveHandles(), 0);
    EXPECT_EQ(store.output().size(), 2500u);
    EXPECT_EQ(store.output().back().event.time, 2499);
    // A handle that was never issued: the generation above the slot's latest.
    EXPECT_EQ(store.eventTime(given.back() + (1u << 22)), 0);
    EXPECT_EQ(store.unknownHandleUses(), 1);
}

}  // namespace
