#include <gtest/gtest.h>

#include <windows.h>
#include <vector>

#include "host/SharedTimer.h"

namespace {

// Runs the thread's message loop for about ms milliseconds.
void pump(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    while (int32_t(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

uint32_t ticksDuring(DWORD ms) {
    const uint32_t before = timerTickCount();
    pump(ms);
    return timerTickCount() - before;
}

class RecordingListener : public IUpdateListener {
public:
    std::vector<std::pair<PendingUpdate*, uint32_t>> calls;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    int32_t STDMETHODCALLTYPE reserved3() override { return 0; }
    int32_t STDMETHODCALLTYPE updateNow(PendingUpdate* entry, uint32_t value) override {
        calls.push_back({entry, value});
        return 0;
    }
};

TEST(SharedTimer, RunsWhileAnyUserHoldsIt) {
    ASSERT_EQ(timerUserCount(), 0);
    EXPECT_EQ(ticksDuring(100), 0u);

    acquireTimer();
    acquireTimer();
    EXPECT_EQ(timerUserCount(), 2);
    EXPECT_GE(ticksDuring(200), 2u);
    releaseTimer();
    EXPECT_GE(ticksDuring(200), 2u) << "one user is left";
    releaseTimer();
    EXPECT_EQ(timerUserCount(), 0);
    pump(50);  // a tick already queued may still arrive
    EXPECT_EQ(ticksDuring(200), 0u);

    acquireTimer();
    EXPECT_GE(ticksDuring(200), 2u) << "restarts after falling to 0";
    releaseTimer();
    EXPECT_EQ(timerUserCount(), 0);
}

TEST(SharedTimer, UnmatchedReleaseKeepsTheCountAtZero) {
    releaseTimer();
    EXPECT_EQ(timerUserCount(), 0);
    acquireTimer();
    EXPECT_EQ(timerUserCount(), 1);
    releaseTimer();
    EXPECT_EQ(timerUserCount(), 0);
}

TEST(SharedTimer, TickNotifiesMarkedEntriesOnce) {
    RecordingListener listener;
    PendingUpdate* marked = new PendingUpdate;
    marked->flags = PendingUpdate::updateFlag | 1;
    marked->value = 77;
    marked->listeners.addTail(new UpdateListenerNode(&listener));
    marked->listeners.addTail(new UpdateListenerNode(&listener));
    PendingUpdate* unmarked = new PendingUpdate;
    unmarked->flags = 1;
    unmarked->listeners.addTail(new UpdateListenerNode(&listener));
    pendingUpdateList().addTail(unmarked);
    pendingUpdateList().addTail(marked);

    timerTick(nullptr, 0, 0, 0);
    EXPECT_TRUE(listener.calls.empty()) << "a tick with no user calls nothing";
    acquireTimer();
    timerTick(nullptr, 0, 0, 0);
    timerTick(nullptr, 0, 0, 0);
    releaseTimer();
    EXPECT_EQ(listener.calls, (std::vector<std::pair<PendingUpdate*, uint32_t>>{{marked, 77}, {marked, 77}}));
    EXPECT_EQ(marked->flags, 1u);
    pendingUpdateList().clear();
}

}  // namespace
