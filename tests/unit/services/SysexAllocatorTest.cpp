#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <vector>

#include "FakeHost.h"
#include "WinSync.h"
#include "services/SysexAllocator.h"

namespace {

using fake::callSlot;
using fake::Sentinel;

IMfxSysexAllocator* filterView() { return &sysexAllocator(); }

SysexHandle make(uint32_t size) {
    SysexHandle h = Sentinel;
    EXPECT_EQ(S_OK, filterView()->create(size, &h));
    return h;
}

TEST(SysexAllocator, CreateWritesTheBlockHeader) {
    SysexHandle h = make(5);
    const auto* raw = reinterpret_cast<const uint8_t*>(uintptr_t(h));
    const uint8_t header[8] = {'M', 'f', 'x', 'B', 5, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(raw, header, 8));
    uint8_t* data = nullptr;
    uint32_t size = Sentinel;
    ASSERT_EQ(S_OK, filterView()->getData(h, &data, &size));
    EXPECT_EQ(raw + 8, data);
    EXPECT_EQ(5u, size);
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
}

TEST(SysexAllocator, ZeroSizeBlockIsValid) {
    SysexHandle h = make(0);
    EXPECT_TRUE(sysexAllocator().isValid(h));
    uint8_t* data = nullptr;
    uint32_t size = Sentinel;
    ASSERT_EQ(S_OK, filterView()->getData(h, &data, &size));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(uintptr_t(h)) + 8, data);
    EXPECT_EQ(0u, size);
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
}

TEST(SysexAllocator, FreedHandleIsInvalidAndSecondFreeChangesNothing) {
    SysexHandle h = make(16);
    SysexHandle other = make(16);
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
    EXPECT_FALSE(sysexAllocator().isValid(h));
    uint8_t* data = reinterpret_cast<uint8_t*>(uintptr_t(Sentinel));
    uint32_t size = Sentinel;
    EXPECT_EQ(E_INVALIDARG, filterView()->getData(h, &data, &size));
    EXPECT_EQ(uintptr_t(Sentinel), reinterpret_cast<uintptr_t>(data));
    EXPECT_EQ(Sentinel, size);
    EXPECT_EQ(E_INVALIDARG, sysexAllocator().free(h));
    EXPECT_TRUE(sysexAllocator().isValid(other));
    EXPECT_EQ(S_OK, sysexAllocator().free(other));
}

TEST(SysexAllocator, ForeignAndNullHandlesAreInvalid) {
    // A fake block with the right header is still not one of ours.
    uint32_t forged[4] = {SysexBlock::Magic, 4, 0, 0};
    const SysexHandle foreign = SysexHandle(reinterpret_cast<uintptr_t>(forged));
    EXPECT_FALSE(sysexAllocator().isValid(foreign));
    EXPECT_FALSE(sysexAllocator().isValid(0));
    EXPECT_EQ(E_INVALIDARG, sysexAllocator().free(foreign));
    EXPECT_EQ(SysexBlock::Magic, forged[0]);
    EXPECT_EQ(E_INVALIDARG, sysexAllocator().free(0));
    SysexHandle out = Sentinel;
    EXPECT_EQ(E_INVALIDARG, filterView()->resize(foreign, 8, &out));
    EXPECT_EQ(Sentinel, out);
}

TEST(SysexAllocator, NullOutPointers) {
    EXPECT_EQ(E_POINTER, filterView()->create(4, nullptr));
    SysexHandle h = make(4);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(E_POINTER, filterView()->getData(h, nullptr, &size));
    EXPECT_EQ(E_POINTER, filterView()->getData(h, &data, nullptr));
    EXPECT_EQ(E_POINTER, filterView()->getData(0, nullptr, nullptr));  // tested before the block
    EXPECT_EQ(E_POINTER, filterView()->resize(h, 8, nullptr));
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
}

TEST(SysexAllocator, SizeThatWouldWrapIsOutOfMemory) {
    SysexHandle h = Sentinel;
    EXPECT_EQ(E_OUTOFMEMORY, filterView()->create(0xFFFFFFF8u, &h));
    EXPECT_EQ(0u, h);
}

TEST(SysexAllocator, ResizeCopiesTheSmallerSizeAndKeepsTheOld) {
    struct Case {
        uint32_t from, to, copied;
    } cases[] = {{8, 3, 3}, {3, 8, 3}, {0, 4, 0}, {6, 6, 6}};
    for (const Case& c : cases) {
        SysexHandle old = make(c.from);
        uint8_t* oldData;
        uint32_t oldSize;
        ASSERT_EQ(S_OK, filterView()->getData(old, &oldData, &oldSize));
        for (uint32_t i = 0; i < c.from; ++i) oldData[i] = uint8_t(0x10 + i);

        SysexHandle fresh = Sentinel;
        ASSERT_EQ(S_OK, filterView()->resize(old, c.to, &fresh)) << c.from << "->" << c.to;
        EXPECT_NE(old, fresh);
        uint8_t* data;
        uint32_t size;
        ASSERT_EQ(S_OK, filterView()->getData(fresh, &data, &size));
        EXPECT_EQ(c.to, size);
        for (uint32_t i = 0; i < c.copied; ++i) EXPECT_EQ(0x10 + i, data[i]) << i;
        EXPECT_TRUE(sysexAllocator().isValid(old));
        ASSERT_EQ(S_OK, filterView()->getData(old, &oldData, &oldSize));
        EXPECT_EQ(c.from, oldSize);
        EXPECT_EQ(S_OK, sysexAllocator().free(old));
        EXPECT_EQ(S_OK, sysexAllocator().free(fresh));
    }
}

TEST(SysexAllocator, QueryInterface) {
    IMfxSysexAllocator* a = filterView();
    const LONG start = sysexAllocator().referenceCount();
    void* out = reinterpret_cast<void*>(uintptr_t(Sentinel));
    EXPECT_EQ(S_OK, a->QueryInterface(mfxid::IMfxSysexAllocator, &out));
    EXPECT_EQ(static_cast<void*>(a), out);
    EXPECT_EQ(S_OK, a->QueryInterface(comid::IUnknown, &out));
    EXPECT_EQ(static_cast<void*>(a), out);
    EXPECT_EQ(start + 2, sysexAllocator().referenceCount());
    EXPECT_EQ(E_NOINTERFACE, a->QueryInterface(mfxid::IMfxEventList, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, a->QueryInterface(mfxid::IMfxSysexAllocator, nullptr));

    // A read-only out pointer is refused without writing.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, page);
    *static_cast<uint32_t*>(page) = Sentinel;
    DWORD old;
    ASSERT_TRUE(VirtualProtect(page, 4096, PAGE_READONLY, &old));
    EXPECT_EQ(E_POINTER, a->QueryInterface(mfxid::IMfxSysexAllocator, static_cast<void**>(page)));
    EXPECT_EQ(Sentinel, *static_cast<uint32_t*>(page));
    VirtualFree(page, 0, MEM_RELEASE);

    EXPECT_EQ(start + 2, sysexAllocator().referenceCount());
    a->Release();
    a->Release();
}

TEST(SysexAllocator, ReleaseFromZeroGivesMinusOne) {
    IMfxSysexAllocator* a = filterView();
    const LONG start = sysexAllocator().referenceCount();
    for (LONG i = 0; i < start; ++i) a->Release();
    for (LONG i = 0; i > start; --i) a->AddRef();
    ASSERT_EQ(0, sysexAllocator().referenceCount());
    EXPECT_EQ(ULONG(-1), a->Release());
    EXPECT_EQ(ULONG(-2), a->Release());
    SysexHandle h = make(1);  // the object keeps working
    EXPECT_TRUE(sysexAllocator().isValid(h));
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
    EXPECT_EQ(ULONG(-1), a->AddRef());
    EXPECT_EQ(0u, a->AddRef());
}

TEST(SysexAllocator, TableSlotsInOrder) {
    void* a = filterView();
    SysexHandle h = Sentinel;
    ASSERT_EQ(S_OK, (callSlot<HRESULT, uint32_t, SysexHandle*>(a, 3, 2u, &h)));
    SysexHandle r = Sentinel;
    ASSERT_EQ(S_OK, (callSlot<HRESULT, SysexHandle, uint32_t, SysexHandle*>(a, 4, h, 7u, &r)));
    uint8_t* data;
    uint32_t size = 0;
    ASSERT_EQ(S_OK, (callSlot<HRESULT, SysexHandle, uint8_t**, uint32_t*>(a, 5, r, &data, &size)));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(S_OK, sysexAllocator().free(h));
    EXPECT_EQ(S_OK, sysexAllocator().free(r));
}

TEST(SysexAllocator, ThreadsCreatingAndFreeingLoseNothing) {
    const int Threads = 4, PerThread = 2000;
    std::vector<std::vector<SysexHandle>> made(Threads);
    std::atomic<int> failures{0};
    std::vector<Thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) {
                SysexHandle h = 0;
                if (sysexAllocator().create(uint32_t(i % 64), &h) != S_OK) ++failures;
                made[t].push_back(h);
                // Free every other block at once, from the thread that made it.
                if (i % 2 == 0 && sysexAllocator().free(h) != S_OK) ++failures;
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(0, failures.load());

    // Every kept block is still valid and distinct; the others are gone. Then all
    // threads race to free the same kept blocks: each is freed exactly once.
    std::set<SysexHandle> kept;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i) {
            const SysexHandle h = made[t][i];
            if (i % 2 == 1) {
                EXPECT_TRUE(sysexAllocator().isValid(h));
                kept.insert(h);
            }
        }
    EXPECT_EQ(size_t(Threads * PerThread / 2), kept.size());
    const std::vector<SysexHandle> shared(kept.begin(), kept.end());
    std::atomic<int> freed{0}, refused{0};
    workers.clear();
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&] {
            for (SysexHandle h : shared) (sysexAllocator().free(h) == S_OK ? freed : refused)++;
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(int(shared.size()), freed.load());
    EXPECT_EQ(int(shared.size()) * (Threads - 1), refused.load());
    for (SysexHandle h : shared) EXPECT_FALSE(sysexAllocator().isValid(h));
}

}  // namespace
