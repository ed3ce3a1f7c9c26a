// Bad input at every method the module offers: null and unreadable pointers, bad state
// blocks, bad registry data and bad records from a filter give a failure, never a crash.
#include <random>

#include "services/RecordList.h"
#include "services/SysexAllocator.h"
#include "unit/instance/ModuleFixture.h"

namespace {

using namespace fixture;

// A page the process may not read or write.
class NoAccessPage {
public:
    NoAccessPage() : p_(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS)) {}
    ~NoAccessPage() { VirtualFree(p_, 0, MEM_RELEASE); }
    template <class T>
    T* as() const { return static_cast<T*>(p_); }

private:
    void* p_;
};

class BadInput : public InstanceTest {};

TEST_F(BadInput, NullPointersToHostFacingMethodsAreRefused) {
    init();
    IModuleFactory* factory = module->factory();
    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    const GUID* iid = &hostid::IMidiModule.guid();
    auto* params = query<IParameterSet>(instance, hostid::IParameterSet);
    auto* state = query<IStatePersistence>(instance, hostid::IStatePersistence);
    auto* editor = query<IEditorDescription>(instance, hostid::IEditorDescription);
    auto* views = query<IViewFactory>(instance, hostid::IViewFactory);
    ASSERT_TRUE(params && state && editor && views);
    ViewRect rect = {0, 0, 100, 100};
    IModuleView* view = nullptr;
    ASSERT_EQ(0, views->createView("propertyPages", &rect, &view));
    ASSERT_NE(view, nullptr);
    IModuleView* refused = reinterpret_cast<IModuleView*>(0xCAFECAFE);
    int32_t size = 4;
    char buffer[256];
    struct Case {
        const char* call;
        long result, expected;
    } cases[] = {
        {"factory describeFactory(null)", factory->describeFactory(nullptr), S_OK},  // copies nothing
        {"factory describeClass(0, null)", factory->describeClass(0, nullptr), E_INVALIDARG},
        {"factory createInstance(null clsid)", factory->createInstance(nullptr, iid, &out), E_POINTER},
        {"factory createInstance(null iid)", factory->createInstance(&CLSID_TestFilter1, nullptr, &out), E_POINTER},
        {"factory createInstance(null out)", factory->createInstance(&CLSID_TestFilter1, iid, nullptr), E_POINTER},
        {"module QueryInterface(null out)", instance->QueryInterface(hostid::IMidiModule.guid(), nullptr), E_POINTER},
        {"module getInfo(null)", instance->getInfo(nullptr), E_POINTER},
        {"params findByName(null, null)", params->findByName(nullptr, nullptr), 1},
        {"params nameByIndex(0, null)", params->nameByIndex(0, nullptr), 1},
        {"params findById(0, null)", params->findById(0, nullptr), 1},
        {"state getClassId(null)", state->getClassId(nullptr), 1},
        {"state setState(null, 4)", state->setState(nullptr, 4), 1},
        {"state getState(null, null)", state->getState(nullptr, nullptr), 1},
        {"state getState(buffer, null)", state->getState(buffer, nullptr), 1},
        {"editor getViewParameters(null, null)", editor->getViewParameters(nullptr, nullptr), 1},
        {"editor getTemplate(null, ...)", editor->getTemplate(nullptr, buffer, buffer, &size), 1},
        {"editor getResource(null, null, null)", editor->getResource(nullptr, nullptr, nullptr), 1},
        {"views createView(name, rect, null)", views->createView("propertyPages", &rect, nullptr), 1},
        {"views createView(null, rect, out)", views->createView(nullptr, &rect, &refused), 1},
        {"view setViewRect(null)", view->setViewRect(nullptr), S_OK},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.call;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(view->Release(), 0u);
    params->Release();
    state->Release();
    editor->Release();
    views->Release();
}

TEST_F(BadInput, UnreadableOutPointersAreRefusedWhereTheModuleChecksThem) {
    init();
    NoAccessPage page;
    EXPECT_EQ(E_POINTER, instance->QueryInterface(hostid::IMidiModule.guid(), page.as<void*>()));
    SysexAllocator& allocator = sysexAllocator();
    EXPECT_EQ(E_POINTER, allocator.QueryInterface(mfxid::IMfxSysexAllocator, page.as<void*>()));
}

TEST_F(BadInput, StateBlocksOfRandomTruncatedAndZeroBytes) {
    init();
    auto* state = query<IStatePersistence>(instance, hostid::IStatePersistence);
    ASSERT_NE(state, nullptr);
    std::mt19937 random(99);
    std::vector<uint8_t> block(4096);
    for (int round = 0; round < 200; ++round) {
        const int32_t size = int32_t(random() % block.size());
        for (int32_t i = 0; i < size; ++i) block[size_t(i)] = uint8_t(random());
        const int32_t r = state->setState(block.data(), size);
        EXPECT_TRUE(r == 0 || r == 1);
        EXPECT_EQ(control.loadedBytes().size(), size_t(r == 0 ? size : control.loadedBytes().size()));
    }
    EXPECT_EQ(1, state->setState(block.data(), 0));
    EXPECT_EQ(1, state->setState(block.data(), -5));
    // A saved block cut short still loads as the bytes given, the filter judges them.
    const uint8_t saved[] = {1, 2, 3, 4, 5, 6};
    control.SetSaveBytes(saved, sizeof saved);
    int32_t size = 0;
    ASSERT_EQ(0, state->getState(nullptr, &size));
    std::vector<uint8_t> copy(static_cast<size_t>(size) + 0);
    int32_t small = 3;
    EXPECT_EQ(1, state->getState(copy.data(), &small));  // too small a buffer: nothing written
    EXPECT_EQ(copy, std::vector<uint8_t>(copy.size(), 0));
    ASSERT_EQ(0, state->getState(nullptr, &size));  // the failed copy used up the snapshot
    ASSERT_EQ(0, state->getState(copy.data(), &size));
    EXPECT_EQ(0, state->setState(copy.data(), 3));
    EXPECT_EQ(control.loadedBytes(), (std::vector<uint8_t>{1, 2, 3}));
    state->Release();
    // Still processing afterwards.
    send(events().newNote(10, 0, 60, 100, 5));
    EXPECT_EQ(S_OK, instance->process(0, 480, 0));
    EXPECT_EQ(events().output().size(), 1u);
}

TEST_F(BadInput, RecordsOfUnknownTypesAndBadBlockHandlesFromTheFilter) {
    init();
    control.SetMode(TfSwallow, 0);
    SysexHandle freed = 0;
    ASSERT_EQ(S_OK, sysexAllocator().create(4, &freed));
    ASSERT_EQ(S_OK, sysexAllocator().free(freed));
    MfxEvent unknown = controllerRecord(5, 1, 1);
    unknown.type = 77;
    MfxEvent garbage = {};
    garbage.time = 6;
    garbage.type = MfxSysex;
    mfxdata::setBlockHandle(garbage, 0xDEAD0000u);
    MfxEvent stale = garbage;
    mfxdata::setBlockHandle(stale, freed);
    MfxEvent null = garbage;
    mfxdata::setBlockHandle(null, 0);
    for (const MfxEvent* e : {&unknown, &garbage, &stale, &null}) control.AddOutput(TfFilterEvents, e);
    MfxEvent good = controllerRecord(7, 2, 2);
    control.AddOutput(TfFilterEvents, &good);
    const size_t liveBlocks = sysexAllocator().liveCount();
    EXPECT_EQ(S_OK, instance->process(0, 480, 0));
    EXPECT_EQ(S_OK, instance->process(480, 960, 0));
    // Only the good record reaches the host, once per range; the bad ones are dropped.
    auto out = events().takeOutput();
    ASSERT_EQ(out.size(), 2u);
    for (const OutputRecord& r : out) EXPECT_EQ(r.event.data1, 2u);
    EXPECT_EQ(sysexAllocator().liveCount(), liveBlocks);
    ASSERT_EQ(S_OK, instance->terminate());
    initialised = false;
    EXPECT_EQ(events().liveHandles(), 0);
    EXPECT_TRUE(events().balanced());
}

TEST(BadFilterInput, NullPointersToTheListsAndTheAllocator) {
    EventListObject list;
    ShortEventListObject shorts;
    SysexAllocator& allocator = sysexAllocator();
    SysexHandle h = 0xCAFECAFE;
    uint8_t* data = reinterpret_cast<uint8_t*>(0xCAFECAFE);
    uint32_t size = 0xCAFECAFE;
    struct Case {
        const char* call;
        HRESULT result, expected;
    } cases[] = {
        {"list add(null)", list.add(nullptr), E_POINTER},
        {"list count(null)", list.count(nullptr), E_POINTER},
        {"list get(0, null)", list.get(0, nullptr), E_POINTER},
        {"list allocator(null)", list.allocator(nullptr), E_POINTER},
        {"list QueryInterface(null)", list.QueryInterface(mfxid::IMfxEventList, nullptr), E_POINTER},
        {"shorts add(null)", shorts.add(nullptr), E_POINTER},
        {"shorts count(null)", shorts.count(nullptr), E_POINTER},
        {"shorts get(0, null)", shorts.get(0, nullptr), E_POINTER},
        {"allocator create(4, null)", allocator.create(4, nullptr), E_POINTER},
        {"allocator resize(0, 4, out)", allocator.resize(0, 4, &h), E_INVALIDARG},
        {"allocator resize(garbage, 4, out)", allocator.resize(0x12345678, 4, &h), E_INVALIDARG},
        {"allocator getData(garbage, ...)", allocator.getData(0x12345678, &data, &size), E_INVALIDARG},
        {"allocator getData(0, null, null)", allocator.getData(0, nullptr, nullptr), E_POINTER},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.call;
    EXPECT_EQ(data, reinterpret_cast<uint8_t*>(0xCAFECAFE));
    EXPECT_EQ(size, 0xCAFECAFEu);
    SysexHandle block = 0;
    ASSERT_EQ(S_OK, allocator.create(8, &block));
    EXPECT_EQ(E_POINTER, allocator.resize(block, 16, nullptr));
    EXPECT_EQ(E_POINTER, allocator.getData(block, nullptr, &size));
    EXPECT_EQ(S_OK, allocator.free(block));
    EXPECT_EQ(E_INVALIDARG, allocator.free(block));
}

// Registry entries the catalogue must pass over or cope with.
TEST(BadRegistry, MalformedNamesValueTypesAndCacheValues) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TestFilterControl control;
    ASSERT_TRUE(startClean(control));
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilter1, "Test Filter 1", TfRegAll));
    // Display name of the maximum length and beyond for the second class, empty for the third.
    const std::string longName(300, 'N');
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilter2, longName.c_str(), TfRegAll));
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilter3, "", TfRegAll));
    std::string root = kFilters;
    for (const std::string& bad : {std::string(200, '{'), std::string("{not-a-clsid}"), std::string("plain"),
                                   std::string("{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F1")}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (root + "\\" + bad).c_str(), 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &key, nullptr));
        RegCloseKey(key);
    }
    // Cache values that are not numbers, or of another type.
    setText(kVerified, clsidText(CLSID_TestFilter1).c_str(), "yes");
    HKEY cache;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kVerified, 0, nullptr, 0, KEY_WRITE, nullptr, &cache,
                                             nullptr));
    DWORD one = 1;
    RegSetValueExA(cache, clsidText(CLSID_TestFilter2).c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
    const BYTE raw[] = {0x31, 0x00, 0xFF};
    RegSetValueExA(cache, clsidText(CLSID_TestFilter3).c_str(), 0, REG_BINARY, raw, sizeof raw);
    RegCloseKey(cache);
    {
        LoadedModule module;
        ASSERT_TRUE(module.loaded());
        std::vector<ClassInfo> classes = module.classes();
        EXPECT_EQ(classes.size(), 3u);
        for (const ClassInfo& c : classes) {
            const size_t length = strnlen(c.name, sizeof c.name);
            EXPECT_LT(length, sizeof c.name);  // always terminated
            if (std::memcmp(&c.classId, &CLSID_TestFilter3, 16) == 0) {
                EXPECT_EQ(length, 0u);
            }
            if (std::memcmp(&c.classId, &CLSID_TestFilter2, 16) == 0) {
                EXPECT_TRUE(length == 0 || c.name[0] == 'N');
            }
        }
        IMidiModule* m = module.create(CLSID_TestFilter2);
        ASSERT_NE(m, nullptr);
        m->Release();
    }
    for (const GUID* c : {&CLSID_TestFilter1, &CLSID_TestFilter2, &CLSID_TestFilter3}) control.Unregister(c);
    clearRegistrations();
    CoUninitialize();
}

}  // namespace
