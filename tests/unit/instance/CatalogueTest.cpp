// The catalogue scan at load: which registered filters become classes, and the
// verification cache it reads and writes.
#include "ModuleFixture.h"

namespace {

using namespace fixture;

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(control.ok());
        control.Reset();
        clearRegistrations();
    }
    void TearDown() override {
        for (const GUID* g : {&CLSID_TestFilter1, &CLSID_TestFilter2, &CLSID_TestFilter3, &CLSID_TestFilterSpare})
            control.Unregister(g);
        clearRegistrations();
        CoUninitialize();
    }
    void add(const GUID& clsid, const char* name, const char* cached) {
        ASSERT_EQ(S_OK, control.Register(&clsid, name, name ? TfRegAll : TfRegAll & ~TfRegName));
        if (cached) setText(kVerified, clsidText(clsid).c_str(), cached);
    }
    std::string cached(const GUID& clsid) {
        std::string v = "<none>";
        readText(kVerified, clsidText(clsid).c_str(), &v);
        return v;
    }
    static std::vector<std::string> names(const std::vector<ClassInfo>& classes) {
        std::vector<std::string> all;
        for (const ClassInfo& c : classes) all.push_back(c.name);
        return all;
    }
    TestFilterControl control;
};

TEST_F(Catalogue, CachedVerdictsDecideWithoutCreatingTheFilter) {
    struct Case {
        const char* cached;
        bool loads;
    } cases[] = {{"1", true}, {"7", true}, {"-2", true}, {"0", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cached);
        clearRegistrations();
        add(CLSID_TestFilter1, "Test Filter 1", c.cached);
        control.Reset();
        LoadedModule module;
        EXPECT_EQ(module.loaded(), c.loads);
        EXPECT_EQ(control.counts().filtersCreated, 0);
        EXPECT_EQ(cached(CLSID_TestFilter1), c.cached);
    }
}

TEST_F(Catalogue, ARegisteredClassDescribesTheFilter) {
    add(CLSID_TestFilter1, "Test Filter 1", "1");
    LoadedModule module;
    ASSERT_TRUE(module.loaded());
    auto classes = module.classes();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(0, std::memcmp(&classes[0].classId, &CLSID_TestFilter1, 16));
    EXPECT_EQ(classes[0].cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(classes[0].category, "Midi Module Class");
    EXPECT_STREQ(classes[0].name, "Test Filter 1");
    FactoryInfo info;
    std::memset(&info, 0xCA, sizeof info);
    ASSERT_EQ(S_OK, module.factory()->describeFactory(&info));
    EXPECT_STREQ(info.text, "Cakewalk MIDI Filter");
    EXPECT_EQ(info.value, 1);
}

TEST_F(Catalogue, UnknownVerdictsAreProbedOnceAndWrittenBack) {
    struct Case {
        const char* cached;
        HRESULT create;
        const char* written;
        bool loads;
        bool probedAgain;  // a failure that may pass is not remembered
    } cases[] = {
        {nullptr, S_OK, "1", true, false},
        {"abc", S_OK, "1", true, false},
        {"abc", E_FAIL, "0", false, false},
        {"", S_OK, "1", true, false},
        {nullptr, E_OUTOFMEMORY, "<none>", false, true},
        {"abc", CO_E_NOTINITIALIZED, "abc", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cached ? c.cached : "(missing)");
        clearRegistrations();
        add(CLSID_TestFilter1, "Test Filter 1", c.cached);
        control.Reset();
        control.SetResult(TfCreate, c.create);
        {
            LoadedModule module;
            EXPECT_EQ(module.loaded(), c.loads);
            EXPECT_EQ(cached(CLSID_TestFilter1), c.written);
            // The probe creates and releases without attaching.
            EXPECT_EQ(control.log({TfAttachHost, TfDetachHost}).size(), 0u);
            EXPECT_EQ(control.counts().filtersAlive, 0);
        }
        control.Reset();
        LoadedModule again;
        EXPECT_EQ(again.loaded(), c.loads || c.probedAgain);  // the passing failure is gone by then
        EXPECT_EQ(control.log({TfCreate}).size(), c.probedAgain ? 1u : 0u);
    }
}

TEST_F(Catalogue, AProbeThatFaultsCountsAsNotCreatable) {
    // A fault in the class factory, or while the made filter is asked for its editor
    // and state interfaces.
    for (int32_t site : {TfCreate, TfQueryInterface})
    for (int32_t kind : {TfRaiseAccessViolation, TfRaiseCxxSeh}) {
        SCOPED_TRACE(site * 10 + kind);
        clearRegistrations();
        add(CLSID_TestFilter1, "Test Filter 1", nullptr);
        add(CLSID_TestFilter2, "Test Filter 2", "1");
        control.Reset();
        control.SetRaise(site, kind);
        LoadedModule module;
        ASSERT_TRUE(module.loaded());
        EXPECT_EQ(names(module.classes()), (std::vector<std::string>{"Test Filter 2"}));
        EXPECT_EQ(cached(CLSID_TestFilter1), "0");
    }
}

TEST_F(Catalogue, AFilterWithoutDisplayNameIsOfferedWithAnEmptyName) {
    add(CLSID_TestFilter1, nullptr, "1");
    LoadedModule module;
    ASSERT_TRUE(module.loaded());
    EXPECT_EQ(names(module.classes()), (std::vector<std::string>{""}));
}

TEST_F(Catalogue, UnreadableSubkeysAreLeftOut) {
    add(CLSID_TestFilter1, "Test Filter 1", "1");
    add(CLSID_TestFilter3, "Test Filter 3", "1");
    // Sorted between the two: a 37-character name that is no identifier.
    std::string odd = "{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F2";
    ASSERT_EQ(odd.size(), 37u);
    setText((std::string(kFilters) + "\\" + odd).c_str(), nullptr, "");
    // And one too long for the 40-character buffer.
    setText((std::string(kFilters) + "\\{A7F1D0C0-5A1B-4E6C-9D3E-0000000000F2}-too-long").c_str(), nullptr, "");
    LoadedModule module;
    ASSERT_TRUE(module.loaded());
    EXPECT_EQ(names(module.classes()), (std::vector<std::string>{"Test Filter 1", "Test Filter 3"}));
    // An instance of the second class finds its own filter.
    IMidiModule* instance = module.create(CLSID_TestFilter3);
    ASSERT_NE(instance, nullptr);
    IStatePersistence* state = query<IStatePersistence>(instance, hostid::IStatePersistence);
    ASSERT_NE(state, nullptr);
    uint8_t id[16];
    EXPECT_EQ(0, state->getClassId(id));
    EXPECT_EQ(0, std::memcmp(id, &CLSID_TestFilter3, 16));
    state->Release();
    instance->Release();
}

TEST_F(Catalogue, WithoutAnyFilterTheModuleRefusesToLoad) {
    LoadedModule none;
    EXPECT_FALSE(none.loaded());
    // An empty filter key is no better.
    setText(kFilters, "unrelated", "x");
    LoadedModule empty;
    EXPECT_FALSE(empty.loaded());
}

TEST_F(Catalogue, ReleasingTheLastInstanceLetsComUnloadTheFilter) {
    add(CLSID_TestFilter1, "Test Filter 1", "1");
    LoadedModule module;
    ASSERT_TRUE(module.loaded());
    IMidiModule* instance = module.create(CLSID_TestFilter1);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(control.counts().filtersAlive, 1);
    int32_t asked = control.counts().canUnloadCalls;
    instance->Release();
    EXPECT_EQ(control.counts().filtersAlive, 0);
    EXPECT_GT(control.counts().canUnloadCalls, asked);
}

}  // namespace

namespace {

using namespace fixture;

TEST_F(Catalogue, TheExportHandsOutTheOneStaticFactory) {
    add(CLSID_TestFilter1, "Test Filter 1", "1");
    HMODULE module = LoadLibraryA(besideProgram("palisander.dll").c_str());
    ASSERT_NE(module, nullptr);
    auto get = reinterpret_cast<IModuleFactory* (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "GetPluginFactory")));
    ASSERT_NE(get, nullptr);
    IModuleFactory* a = get();
    IModuleFactory* b = get();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->classCount(), 1);

    uint8_t info[452];
    std::memset(info, 0xCD, sizeof info);
    uint8_t expected[452] = {};
    std::memcpy(expected, "Cakewalk MIDI Filter", 20);
    expected[448] = 1;
    EXPECT_EQ(a->describeFactory(reinterpret_cast<FactoryInfo*>(info)), S_OK);
    EXPECT_EQ(0, std::memcmp(info, expected, sizeof info));

    // Two references were handed out and come back; a further Release keeps the factory.
    EXPECT_EQ(a->Release(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(a->Release(), 1u);
    EXPECT_EQ(a->classCount(), 1);
    FreeLibrary(module);
}

}  // namespace
