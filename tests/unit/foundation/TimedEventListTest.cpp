#include <gtest/gtest.h>

#include <vector>

#include "FakeModuleHost.h"
#include "host/TimedEventList.h"

namespace {

std::vector<HostEvent> order(const TimedEventList& list) {
    std::vector<HostEvent> out;
    for (int32_t i = 0; i < list.count(); ++i) out.push_back(list.eventAt(i));
    return out;
}

TEST(TimedEventList, WithoutTimeSourceNothingIsPlacedOrTaken) {
    FakeModuleHost host;
    TimedEventList list;
    EXPECT_FALSE(list.insert(host.addEvent(1, 5)));
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.takeBefore(100), 0u);
    list.shiftBack(0, 10);
    EXPECT_TRUE(host.calls.empty());
}

TEST(TimedEventList, EqualTimesKeepInsertionOrder) {
    FakeModuleHost host;
    TimedEventList list(&host);
    ASSERT_TRUE(list.insert(host.addEvent(1, 10)));
    ASSERT_TRUE(list.insert(host.addEvent(2, 20)));
    ASSERT_TRUE(list.insert(host.addEvent(3, 10)));
    ASSERT_TRUE(list.insert(host.addEvent(4, -5)));
    EXPECT_EQ(order(list), (std::vector<HostEvent>{4, 1, 3, 2}));
}

TEST(TimedEventList, TakeBeforeTakesOnlyEarlierEvents) {
    FakeModuleHost host;
    TimedEventList list(&host);
    list.insert(host.addEvent(7, 20));
    EXPECT_EQ(list.takeBefore(20), 0u);
    EXPECT_EQ(list.count(), 1);
    list.insert(host.addEvent(8, 19));
    EXPECT_EQ(list.takeBefore(20), 8u);
    EXPECT_EQ(list.takeBefore(20), 0u);
    EXPECT_EQ(list.takeBefore(21), 7u);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.takeBefore(1000), 0u);
    EXPECT_TRUE(host.calls.empty()) << "the list gives nothing back by itself";
}

TEST(TimedEventList, EachEventsTimeIsAskedOnceWhateverTheWalksAndTakes) {
    FakeModuleHost host;
    TimedEventList list(&host);
    // Out of order, so that inserts walk back past earlier nodes.
    for (HostEvent e = 1; e <= 40; ++e) ASSERT_TRUE(list.insert(host.addEvent(e, int32_t((e * 37) % 41))));
    EXPECT_EQ(host.timeReads, 40);
    list.shiftBack(0, 20);  // times 1 to 40: 40 is dropped, 20 to 39 move back to 0 to 19
    int32_t last = -1;
    int32_t taken = 0;
    while (HostEvent e = list.takeBefore(1000)) {
        EXPECT_GE(host.times[e], last) << "taken in time order after the shift";
        last = host.times[e];
        ++taken;
    }
    EXPECT_EQ(taken, 39);
    EXPECT_EQ(host.timeReads, 40) << "the list keeps each time it read, and the times it set";
}

TEST(TimedEventList, ShiftBackMovesTheNextCycleAndDropsLaterEvents) {
    FakeModuleHost host;
    TimedEventList list(&host);
    list.insert(host.addEvent(1, 40));
    list.insert(host.addEvent(2, 150));
    list.insert(host.addEvent(3, 250));
    list.shiftBack(0, 100);
    EXPECT_EQ(order(list), (std::vector<HostEvent>{1, 2}));
    EXPECT_EQ(host.times[1], 40);
    EXPECT_EQ(host.times[2], 50);
    EXPECT_EQ(host.times[3], 250) << "a dropped event is not touched";
    EXPECT_TRUE(host.calls.empty());
}

TEST(TimedEventList, ShiftBackKeepsTimeOrder) {
    FakeModuleHost host;
    TimedEventList list(&host);
    for (auto [e, t] : std::vector<std::pair<HostEvent, int32_t>>{{1, 5}, {2, 50}, {3, 120}, {4, 190}, {5, 210}})
        list.insert(host.addEvent(e, t));
    // Cycle [100, 200): only 210 is late; it becomes 110 and goes before 120.
    list.shiftBack(100, 100);
    EXPECT_EQ(order(list), (std::vector<HostEvent>{1, 2, 5, 3, 4}));
    EXPECT_EQ(host.times[5], 110);

    // Cycle [0, 100): 350 is dropped, 190 -> 90, 120 -> 20, 110 -> 10.
    list.insert(host.addEvent(6, 350));
    list.shiftBack(0, 100);
    EXPECT_EQ(order(list), (std::vector<HostEvent>{1, 5, 3, 2, 4}));
    EXPECT_EQ(host.times[3], 20);
    EXPECT_EQ(host.times[4], 90);
    EXPECT_EQ(host.times[5], 10);
}

TEST(TimedEventList, ShiftBackCanGiveDroppedEventsBack) {
    FakeModuleHost host;
    TimedEventList list(&host);
    list.insert(host.addEvent(1, 150));
    list.insert(host.addEvent(2, 300));
    list.insert(host.addEvent(3, 400));
    list.shiftBack(0, 100, true);
    EXPECT_EQ(order(list), (std::vector<HostEvent>{1}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"releaseEvent 3", "releaseEvent 2"}));
}

TEST(TimedEventList, ClearReleasingGivesEveryEventBack) {
    FakeModuleHost host;
    TimedEventList list(&host);
    list.insert(host.addEvent(1, 10));
    list.insert(host.addEvent(2, 5));
    list.clearReleasing();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"releaseEvent 2", "releaseEvent 1"}));
}

TEST(TimedEventList, HoldsOneReferenceOnItsTimeSource) {
    FakeModuleHost first, second;
    {
        TimedEventList list(&first);
        EXPECT_EQ(first.refCount, 1);
        list.setTimeSource(&second);
        EXPECT_EQ(first.refCount, 0);
        EXPECT_EQ(second.refCount, 1);
        list.insert(second.addEvent(1, 1));
        list.dropTimeSource();
        EXPECT_EQ(second.refCount, 0);
        EXPECT_EQ(list.takeBefore(100), 0u);
        list.setTimeSource(&second);
    }
    EXPECT_EQ(second.refCount, 0);
    EXPECT_TRUE(second.calls.empty()) << "destruction deletes nodes only";
}

}  // namespace
