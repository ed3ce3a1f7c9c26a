#include <gtest/gtest.h>

#include <cstring>

#include "FakeHost.h"
#include "services/RecordList.h"
#include "services/SysexAllocator.h"

namespace {

using namespace mfxdata;
using fake::callSlot;
using fake::Sentinel;

MfxEvent withType(int32_t type, int32_t time) {
    MfxEvent e = {};
    e.time = time;
    e.type = type;
    e.data[0] = uint8_t(time);
    return e;
}

MfxEvent withBlock(int32_t type, SysexHandle block) {
    MfxEvent e = withType(type, 0);
    setBlockHandle(e, block);
    return e;
}

SysexHandle newBlock() {
    SysexHandle h = 0;
    EXPECT_EQ(S_OK, sysexAllocator().create(4, &h));
    return h;
}

TEST(EventListObject, KeepsRecordsInInsertionOrder) {
    EventListObject owned;
    IMfxEventList* list = &owned;
    const MfxEvent a = withType(MfxController, 10), b = withType(MfxNote, 20);
    EXPECT_EQ(S_OK, list->add(&a));
    EXPECT_EQ(S_OK, list->add(&b));
    int32_t count = Sentinel;
    EXPECT_EQ(S_OK, list->count(&count));
    EXPECT_EQ(2, count);
    MfxEvent out;
    ASSERT_EQ(S_OK, list->get(0, &out));
    EXPECT_EQ(0, std::memcmp(&a, &out, sizeof out));
    ASSERT_EQ(S_OK, list->get(1, &out));
    EXPECT_EQ(0, std::memcmp(&b, &out, sizeof out));
    // Out of order and again.
    ASSERT_EQ(S_OK, list->get(0, &out));
    EXPECT_EQ(10, out.time);
    ASSERT_EQ(S_OK, list->get(0, &out));
    EXPECT_EQ(10, out.time);
}

TEST(EventListObject, MissingRecordsAndNullPointers) {
    EventListObject owned;
    IMfxEventList* list = &owned;
    MfxEvent out;
    std::memset(&out, 0xCA, sizeof out);
    EXPECT_EQ(E_UNEXPECTED, list->get(0, &out));
    const MfxEvent a = withType(MfxController, 1);
    list->add(&a);
    EXPECT_EQ(E_UNEXPECTED, list->get(-1, &out));
    EXPECT_EQ(E_UNEXPECTED, list->get(1, &out));
    EXPECT_EQ(int32_t(0xCACACACA), out.time);
    EXPECT_EQ(E_POINTER, list->get(0, nullptr));
    EXPECT_EQ(E_POINTER, list->add(nullptr));
    EXPECT_EQ(E_POINTER, list->count(nullptr));
    EXPECT_EQ(E_POINTER, list->allocator(nullptr));
    EXPECT_EQ(1, owned.size());
}

TEST(EventListObject, ClearFreesTheBlocksOfTypesEightToTen) {
    SysexHandle sysex = newBlock(), nine = newBlock(), ten = newBlock(), untouched = newBlock();
    EventListObject list;
    const MfxEvent records[] = {withType(MfxNote, 0), withBlock(MfxSysex, sysex), withBlock(MfxBlock9, nine),
                                withBlock(MfxBlock10, ten),
                                // The same handle in a record of another type is not a block.
                                withBlock(MfxShortMessage, untouched)};
    for (const MfxEvent& r : records) list.add(&r);
    list.clear();
    EXPECT_FALSE(sysexAllocator().isValid(sysex));
    EXPECT_FALSE(sysexAllocator().isValid(nine));
    EXPECT_FALSE(sysexAllocator().isValid(ten));
    EXPECT_TRUE(sysexAllocator().isValid(untouched));
    int32_t count = Sentinel;
    list.count(&count);
    EXPECT_EQ(0, count);
    MfxEvent out;
    EXPECT_EQ(E_UNEXPECTED, list.get(0, &out));
    EXPECT_EQ(S_OK, sysexAllocator().free(untouched));
}

TEST(EventListObject, BlockSharedByTwoListsIsFreedOnce) {
    const SysexHandle shared = newBlock();
    const MfxEvent r = withBlock(MfxSysex, shared);
    {
        EventListObject input, output;
        input.add(&r);
        output.add(&r);  // a filter passing its input through
        output.clear();
        EXPECT_FALSE(sysexAllocator().isValid(shared));
        // A block made now may reuse the address; the input's clear must still
        // not free it twice, so make none until both lists are gone.
        input.clear();
        EXPECT_EQ(0, input.size());
        EXPECT_EQ(0, output.size());
    }
    EXPECT_EQ(E_INVALIDARG, sysexAllocator().free(shared));
}

TEST(EventListObject, DestructionClears) {
    const SysexHandle block = newBlock();
    {
        EventListObject list;
        const MfxEvent r = withBlock(MfxSysex, block);
        list.add(&r);
    }
    EXPECT_FALSE(sysexAllocator().isValid(block));
}

TEST(EventListObject, InterfacesAndAllocator) {
    EventListObject owned;
    IMfxEventList* list = &owned;
    void* out = reinterpret_cast<void*>(uintptr_t(Sentinel));
    for (const GUID* iid : {&comid::IUnknown, &mfxid::IMfxEventList, &mfxid::IMfxEventList2}) {
        EXPECT_EQ(S_OK, list->QueryInterface(*iid, &out));
        EXPECT_EQ(static_cast<void*>(list), out);
    }
    EXPECT_EQ(4, owned.referenceCount());
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(mfxid::IMfxShortEventList, &out));
    EXPECT_EQ(nullptr, out);
    for (int i = 0; i < 3; ++i) list->Release();

    const LONG before = sysexAllocator().referenceCount();
    IMfxSysexAllocator* a = nullptr;
    IMfxSysexAllocator* b = nullptr;
    ASSERT_EQ(S_OK, list->allocator(&a));
    ASSERT_EQ(S_OK, list->allocator(&b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<IMfxSysexAllocator*>(&sysexAllocator()), a);
    EXPECT_EQ(before + 2, sysexAllocator().referenceCount());
    a->Release();
    b->Release();
}

TEST(EventListObject, MemberObjectOutlivesAnExtraRelease) {
    EventListObject owned;
    const MfxEvent r = withType(MfxController, 3);
    owned.add(&r);
    IMfxEventList* list = &owned;
    EXPECT_EQ(0u, list->Release());
    EXPECT_EQ(0u, list->Release());
    EXPECT_EQ(1, owned.size());  // still there: the owner destroys it
}

TEST(EventListObject, CountedObjectIsDestroyedByItsLastRelease) {
    const SysexHandle block = newBlock();
    auto* list = EventListObject::createCounted();
    ASSERT_NE(nullptr, list);
    const MfxEvent r = withBlock(MfxSysex, block);
    list->add(&r);
    EXPECT_EQ(2u, list->AddRef());
    EXPECT_EQ(1u, list->Release());
    EXPECT_TRUE(sysexAllocator().isValid(block));
    EXPECT_EQ(0u, list->Release());
    EXPECT_FALSE(sysexAllocator().isValid(block));  // destroyed, hence cleared
}

TEST(EventListObject, TableSlotsInOrder) {
    EventListObject owned;
    void* list = static_cast<IMfxEventList*>(&owned);
    const MfxEvent r = withType(MfxController, 42);
    ASSERT_EQ(S_OK, (callSlot<HRESULT, const MfxEvent*>(list, 3, &r)));
    int32_t count = 0;
    ASSERT_EQ(S_OK, (callSlot<HRESULT, int32_t*>(list, 4, &count)));
    EXPECT_EQ(1, count);
    MfxEvent out = {};
    ASSERT_EQ(S_OK, (callSlot<HRESULT, int32_t, MfxEvent*>(list, 5, 0, &out)));
    EXPECT_EQ(42, out.time);
    IMfxSysexAllocator* a = nullptr;
    ASSERT_EQ(S_OK, (callSlot<HRESULT, IMfxSysexAllocator**>(list, 6, &a)));
    EXPECT_EQ(static_cast<IMfxSysexAllocator*>(&sysexAllocator()), a);
    a->Release();
}

TEST(ShortEventListObject, AddGetCountAndClear) {
    ShortEventListObject owned;
    IMfxShortEventList* list = &owned;
    const MfxShortEvent a = {1, 0x90, 60, 100, 0}, b = {2, 0x80, 60, 0, 0};
    EXPECT_EQ(S_OK, list->add(&a));
    EXPECT_EQ(S_OK, list->add(&b));
    int32_t count = Sentinel;
    EXPECT_EQ(S_OK, list->count(&count));
    EXPECT_EQ(2, count);
    MfxShortEvent out;
    ASSERT_EQ(S_OK, list->get(1, &out));
    EXPECT_EQ(0, std::memcmp(&b, &out, sizeof out));
    ASSERT_EQ(S_OK, list->get(0, &out));
    EXPECT_EQ(0, std::memcmp(&a, &out, sizeof out));
    std::memset(&out, 0xCA, sizeof out);
    EXPECT_EQ(E_UNEXPECTED, list->get(2, &out));
    EXPECT_EQ(E_UNEXPECTED, list->get(-1, &out));
    EXPECT_EQ(int32_t(0xCACACACA), out.time);
    EXPECT_EQ(E_POINTER, list->get(0, nullptr));
    EXPECT_EQ(E_POINTER, list->add(nullptr));
    EXPECT_EQ(E_POINTER, list->count(nullptr));
    owned.clear();
    list->count(&count);
    EXPECT_EQ(0, count);
}

TEST(ShortEventListObject, InterfacesAndLifetime) {
    auto* list = ShortEventListObject::createCounted();
    ASSERT_NE(nullptr, list);
    void* out = reinterpret_cast<void*>(uintptr_t(Sentinel));
    EXPECT_EQ(S_OK, list->QueryInterface(mfxid::IMfxShortEventList, &out));
    EXPECT_EQ(static_cast<void*>(static_cast<IMfxShortEventList*>(list)), out);
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(mfxid::IMfxEventList, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, list->Release());
    EXPECT_EQ(0u, list->Release());

    ShortEventListObject member;
    EXPECT_EQ(0u, member.Release());
    const MfxShortEvent a = {1, 0x90, 60, 100, 0};
    EXPECT_EQ(S_OK, member.add(&a));  // still usable
}

}  // namespace
