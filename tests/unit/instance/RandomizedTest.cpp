// Many thousands of mixed host calls through a pass-through filter, checked against a
// model of what the instance must do with each event, and against the host's accounting.
#include <map>
#include <random>
#include <set>

#include "ModuleFixture.h"

namespace {

using namespace fixture;

// What must become of the events the host gives: taken by a range, or dropped.
class PendingModel {
public:
    void add(int32_t time, uint32_t id) { pending_.insert({time, id}); }
    void process(int32_t from, int32_t to) {
        if (!skip_ && to > from) {
            while (!pending_.empty() && pending_.begin()->first < to) {
                reached.insert(pending_.begin()->second);
                pending_.erase(pending_.begin());
            }
            started_ = true;
        }
        skip_ = false;
    }
    void stop() {
        for (auto& p : pending_) dropped.insert(p.second);
        pending_.clear();
        started_ = false;
        skip_ = true;
    }
    void reposition() {
        if (started_ && !skip_) stop();
        skip_ = true;
    }
    void cycleJump(int32_t start, int32_t length) {
        int32_t end = start + length;
        std::multimap<int32_t, uint32_t> next;
        for (auto& p : pending_) {
            if (p.first < end)
                next.insert(p);
            else if (p.first - length >= end)
                dropped.insert(p.second);
            else
                next.insert({p.first - length, p.second});
        }
        pending_.swap(next);
    }
    size_t waiting() const { return pending_.size(); }
    std::set<uint32_t> reached, dropped;

private:
    std::multimap<int32_t, uint32_t> pending_;
    bool started_ = false, skip_ = false;
};

class Randomized : public InstanceTest {};

TEST_F(Randomized, EveryEventReachesTheFilterOnceOrIsDroppedAndEveryHandleComesBack) {
    init();
    std::mt19937 random(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    PendingModel model;
    uint32_t nextId = 1;
    int32_t cursor = 0;
    int liveSent = 0;
    const int operations = 20000;
    for (int op = 0; op < operations; ++op) {
        int what = pick(0, 99);
        if (what < 45) {
            int32_t time = cursor + pick(-200, 3000);
            uint32_t id = nextId++;
            send(events().newNote(time, pick(0, 15), uint32_t(pick(0, 127)), uint32_t(pick(1, 127)), id));
            model.add(time, id);
        } else if (what < 55) {
            HostEvent live = events().newEvent(cursor, 0x90 | pick(0, 15), pick(0, 127), pick(1, 127));
            events().markLive(live, true);
            instance->onEvent(live);
            events().discard(live);
            ++liveSent;
        } else if (what < 80) {
            int32_t length = pick(0, 960);
            instance->process(cursor, cursor + length, 0);
            model.process(cursor, cursor + length);
            cursor += length;
        } else if (what < 88) {
            instance->process(0, 0, 1);
        } else if (what < 92) {
            instance->stop(cursor);
            model.stop();
        } else if (what < 95) {
            instance->reposition(0);
            model.reposition();
        } else {
            int32_t length = pick(1, 2000);
            int32_t start = cursor - length;
            instance->cycleJump(start, length);
            model.cycleJump(start, length);
            cursor = start;
        }
    }

    // What the filter received, identified by the duration each note carried.
    std::map<uint32_t, int> received;
    int liveReceived = 0;
    for (int32_t i = 0; i < control.LogCount(); ++i) {
        TfCall call = control.entry(i);
        if (call.site == TfFilterEvents)
            for (const MfxEvent& e : control.events(i)) ++received[mfxdata::noteDuration(e)];
        if (call.site == TfFilterLiveEvents) liveReceived += call.shortCount;
    }
    std::set<uint32_t> reachedOnce;
    for (auto& r : received) {
        EXPECT_EQ(r.second, 1) << "event " << r.first;
        reachedOnce.insert(r.first);
    }
    EXPECT_EQ(reachedOnce, model.reached);
    for (uint32_t id : model.dropped) EXPECT_EQ(received.count(id), 0u) << "dropped event " << id << " arrived";
    EXPECT_EQ(model.reached.size() + model.dropped.size() + model.waiting(), size_t(nextId - 1));
    EXPECT_EQ(liveReceived, liveSent);
    EXPECT_GT(model.reached.size(), 1000u);
    EXPECT_GT(model.dropped.size(), 100u);

    // Copies still waiting are given back at terminate; nothing leaks, nothing is released twice.
    ASSERT_EQ(S_OK, instance->terminate());
    initialised = false;
    EXPECT_EQ(events().liveHandles(), 0);
    EXPECT_EQ(events().doubleReleases(), 0);
    EXPECT_EQ(events().unknownHandleUses(), 0);
    EXPECT_EQ(events().staleHandleUses(), 0);
    EXPECT_EQ(events().foreignReleases(), 0);
    EXPECT_TRUE(events().balanced());
    std::printf("randomized: %d operations, %zu events reached the filter, %zu dropped, %d live; "
                "%d created and %d copied handles all given back\n",
                operations, model.reached.size(), model.dropped.size(), liveSent, events().createdCount(),
                events().copiedCount());
}

}  // namespace
