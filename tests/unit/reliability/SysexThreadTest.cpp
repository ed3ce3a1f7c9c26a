// Filter threads create, resize and read sysex blocks while the host thread clears the
// lists that free them: no block is freed twice or lost, no valid handle is refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "WinSync.h"

#include "unit/instance/ModuleFixture.h"

#include "services/RecordList.h"
#include "services/SysexAllocator.h"

namespace {

// A block's bytes: its 4-byte id, then the id's low byte repeated.
void fill(uint8_t* data, uint32_t size, uint32_t id) {
    for (uint32_t i = 0; i < size; ++i) data[i] = i < 4 ? uint8_t(id >> (8 * i)) : uint8_t(id);
}
bool holds(const uint8_t* data, uint32_t size, uint32_t id) {
    for (uint32_t i = 0; i < size; ++i)
        if (data[i] != (i < 4 ? uint8_t(id >> (8 * i)) : uint8_t(id))) return false;
    return true;
}

MfxEvent sysexRecord(SysexHandle h) {
    MfxEvent e = {};
    e.type = MfxSysex;
    mfxdata::setBlockHandle(e, h);
    return e;
}

TEST(SysexAllocatorThreads, CreateResizeAndReadWhileTheHostFrees) {
    SysexAllocator& allocator = sysexAllocator();
    const size_t liveBefore = allocator.liveCount();
    const int workers = 4, perWorker = 20000;

    Lock handedLock;
    std::deque<SysexHandle> handed;         // given to the host, which frees them
    std::vector<SysexHandle> recentlyHanded;  // read again by the workers while the host frees them
    std::atomic<int> refusedOwn{0}, wrongContent{0}, madeBlocks{0}, lateReadsOk{0}, lateReadsRefused{0};
    std::atomic<int> finished{0};
    std::atomic<uint32_t> nextId{1};

    auto worker = [&](int seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < perWorker; ++i) {
            const uint32_t id = nextId++;
            const uint32_t size = random() % 300;
            SysexHandle block = 0;
            if (allocator.create(size, &block) != S_OK) {
                ++refusedOwn;
                continue;
            }
            ++madeBlocks;
            uint8_t* data = nullptr;
            uint32_t got = 0;
            if (allocator.getData(block, &data, &got) != S_OK || got != size) {
                ++refusedOwn;
                continue;
            }
            fill(data, size, id);
            // Grow or shrink: the old block stays valid, the new one keeps the common part.
            SysexHandle resized = 0;
            const uint32_t newSize = random() % 300;
            if (allocator.resize(block, newSize, &resized) != S_OK) {
                ++refusedOwn;
            } else {
                ++madeBlocks;
                if (allocator.getData(resized, &data, &got) != S_OK || got != newSize)
                    ++refusedOwn;
                else if (!holds(data, newSize < size ? newSize : size, id))
                    ++wrongContent;
            }
            // A block already given to the host may be freed at any moment: reading or
            // resizing it answers a clean refusal or a faithful copy.
            SysexHandle late = 0;
            {
                ScopedLock hold(handedLock);
                handed.push_back(block);
                if (resized) handed.push_back(resized);
                if (!recentlyHanded.empty()) late = recentlyHanded[random() % recentlyHanded.size()];
                recentlyHanded.push_back(block);
                if (recentlyHanded.size() > 64) recentlyHanded.erase(recentlyHanded.begin());
            }
            if (late) {
                SysexHandle copy = 0;
                if (allocator.resize(late, 16, &copy) == S_OK) {
                    ++lateReadsOk;
                    ScopedLock hold(handedLock);
                    handed.push_back(copy);
                } else {
                    ++lateReadsRefused;
                }
            }
        }
        ++finished;
    };

    std::vector<Thread> threads;
    for (int w = 0; w < workers; ++w) threads.emplace_back([&worker, w] { worker(1000 + w); });

    // The host thread: batches of handed blocks go into lists, some twice, and are cleared.
    int cleared = 0;
    std::mt19937 random(7);
    while (true) {
        const bool done = finished == workers;
        std::vector<SysexHandle> batch;
        {
            ScopedLock hold(handedLock);
            while (!handed.empty() && batch.size() < 50) {
                batch.push_back(handed.front());
                handed.pop_front();
            }
        }
        if (batch.empty()) {
            if (done) break;
            SwitchToThread();
            continue;
        }
        EventListObject list;
        for (SysexHandle h : batch) {
            MfxEvent e = sysexRecord(h);
            list.add(&e);
            if (random() % 8 == 0) list.add(&e);  // the same block twice: freed once
        }
        list.clear();
        cleared += int(batch.size());
    }
    for (Thread& t : threads) t.join();

    EXPECT_EQ(refusedOwn.load(), 0);
    EXPECT_EQ(wrongContent.load(), 0);
    EXPECT_EQ(cleared, madeBlocks.load() + lateReadsOk.load());
    // Every block made was freed exactly once: none is left and none was freed again.
    EXPECT_EQ(allocator.liveCount(), liveBefore);
    EXPECT_GT(lateReadsRefused.load() + lateReadsOk.load(), 0);
    std::printf("sysex threads: %d workers, %d blocks made, %d freed by the host, %d late resizes copied, %d refused\n",
                workers, madeBlocks.load() + lateReadsOk.load(), cleared, lateReadsOk.load(), lateReadsRefused.load());
}

// Instances that play at once on several threads pass each other's sysex nowhere: a
// block in both a call's input and output list is freed once, and a freed address is
// not handed out again while another thread may still free it.
class SysexInstanceThreads : public fixture::InstanceTest {
protected:
    static const int kTracks = 4, kBlocks = 110, kPerBlock = 3;

    static std::vector<uint8_t> message(int track, int block, int k) {
        std::vector<uint8_t> m = {0xF0, uint8_t(track), uint8_t(block & 0x7F), uint8_t(k)};
        m.insert(m.end(), size_t((block * 7 + k * 13 + track * 5) % 250), uint8_t((track * 31 + block + k) & 0x7F));
        m.push_back(0xF7);
        return m;
    }

    // Plays one track through its own instance and host; what reached the host, in order.
    std::vector<std::vector<uint8_t>> play(int track) {
        ReferenceHost* trackHost = new ReferenceHost();
        IMidiModule* player = created[track];
        std::vector<std::vector<uint8_t>> heard;
        if (player->initialize(trackHost->context()) == S_OK) {
            for (int b = 0; b < kBlocks; ++b) {
                for (int k = 0; k < kPerBlock; ++k) {
                    HostEvent e = trackHost->events().newSysex(b * 480 + k, message(track, b, k));
                    player->onEvent(e);
                    trackHost->events().discard(e);
                }
                player->process(b * 480, b * 480 + 480, 0);
            }
            player->stop(kBlocks * 480);
            for (const OutputRecord& r : trackHost->events().takeOutput()) heard.push_back(r.event.sysex);
            heard.push_back({uint8_t(trackHost->events().liveHandles())});
            player->terminate();
        }
        trackHost->Release();
        return heard;
    }

    void SetUp() override {
        InstanceTest::SetUp();
        for (int t = 0; t < kTracks; ++t) created.push_back(module->create(CLSID_TestFilter1));
    }
    void TearDown() override {
        for (IMidiModule* m : created)
            if (m) m->Release();
        InstanceTest::TearDown();
    }

    std::vector<IMidiModule*> created;
};

TEST_F(SysexInstanceThreads, FourTracksAtOnceGiveWhatEachGivesAlone) {
    for (IMidiModule* m : created) ASSERT_NE(m, nullptr);
    std::vector<std::vector<std::vector<uint8_t>>> alone, together(kTracks);
    for (int t = 0; t < kTracks; ++t) alone.push_back(play(t));
    for (int t = 0; t < kTracks; ++t) {
        ASSERT_EQ(alone[t].size(), size_t(kBlocks * kPerBlock + 1)) << "track " << t;
        EXPECT_EQ(alone[t].back(), std::vector<uint8_t>{0}) << "every handle given back";
    }
    std::vector<Thread> threads;
    for (int t = 0; t < kTracks; ++t) threads.emplace_back([this, t, &together] { together[t] = play(t); });
    for (Thread& th : threads) th.join();
    for (int t = 0; t < kTracks; ++t) EXPECT_TRUE(together[t] == alone[t]) << "track " << t;
}

}  // namespace

