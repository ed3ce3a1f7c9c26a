#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/ModuleObject.h"
#include "host/SharedTimer.h"
#include "unit/foundation/FakeModuleHost.h"

namespace {

const uint8_t someClass[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// Reaches the protected fields as a derived class does, and reports its end.
class ProbeObject : public ModuleObject {
public:
    explicit ProbeObject(bool* destroyed = nullptr) : ModuleObject(someClass), destroyed(destroyed) {}
    ~ProbeObject() override {
        if (destroyed) *destroyed = true;
    }
    void exposePersistence() { persistenceExposed = true; }
    void setEditor(int32_t flag) { hasEditor = flag; }
    void setTemplateResource(int32_t id) { templateResourceId = id; }
    void addParameter(ParameterEntry* entry, const char* name) { parameters.addEntry(entry, name); }
    bool isRunning() const { return running; }
    int32_t lastValue() const { return value; }
    bool* destroyed;
};

void* query(ModuleObject& object, const UniqueId& id) {
    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    if (object.QueryInterface(id.guid(), &out) != S_OK) {
        EXPECT_EQ(out, nullptr);
        return nullptr;
    }
    static_cast<IUnknown*>(out)->Release();
    return out;
}

TEST(ModuleObject, AnswersEachIdentifierWithItsInterface) {
    ProbeObject object;
    void* primary = static_cast<IMidiModule*>(&object);
    struct Case {
        const UniqueId* id;
        void* expected;
    } cases[] = {
        {&hostid::IUnknown, primary},
        {&hostid::IMidiModule, primary},
        {&hostid::IModuleBase, primary},
        {&hostid::IParameterSet, static_cast<IParameterSet*>(&object)},
        {&hostid::IParameterSet2, static_cast<IParameterSet*>(&object)},
        {&hostid::IEditorDescription, static_cast<IEditorDescription*>(&object)},
        {&hostid::IEditorDescription2, static_cast<IEditorDescription*>(&object)},
        {&hostid::IViewFactory, static_cast<IViewFactory*>(&object)},
        {&hostid::IStatePersistence, nullptr},
        {&hostid::IModuleFactory, nullptr},
        {&hostid::IMidiModuleHost, nullptr},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(query(object, *cases[i].id), cases[i].expected) << "case " << i;
    EXPECT_EQ(object.referenceCount(), 1);

    object.exposePersistence();
    EXPECT_EQ(query(object, hostid::IStatePersistence), static_cast<IStatePersistence*>(&object));
    EXPECT_EQ(object.QueryInterface(hostid::IUnknown.guid(), nullptr), E_POINTER);
}

TEST(ModuleObject, EverySecondaryInterfaceReachesTheSameIdentity) {
    ProbeObject object;
    object.exposePersistence();
    IUnknown* interfaces[] = {static_cast<IMidiModule*>(&object), static_cast<IParameterSet*>(&object),
                              static_cast<IStatePersistence*>(&object), static_cast<IEditorDescription*>(&object),
                              static_cast<IViewFactory*>(&object)};
    for (IUnknown* itf : interfaces) {
        void* out = nullptr;
        ASSERT_EQ(itf->QueryInterface(hostid::IUnknown.guid(), &out), S_OK);
        EXPECT_EQ(out, static_cast<IMidiModule*>(&object));
        itf->Release();
    }
}

TEST(ModuleObject, OneCountForAllFiveInterfaces) {
    bool destroyed = false;
    ProbeObject* object = new ProbeObject(&destroyed);
    IUnknown* interfaces[] = {static_cast<IMidiModule*>(object), static_cast<IParameterSet*>(object),
                              static_cast<IStatePersistence*>(object), static_cast<IEditorDescription*>(object),
                              static_cast<IViewFactory*>(object)};
    ULONG expected = 1;
    for (IUnknown* itf : interfaces) EXPECT_EQ(itf->AddRef(), ++expected);
    for (IUnknown* itf : interfaces) EXPECT_EQ(itf->Release(), --expected);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(interfaces[4]->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

class ModuleObjectHostTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(timerUserCount(), 0); }
    FakeModuleHost host;
};

TEST_F(ModuleObjectHostTest, InitializeNeedsAModuleHost) {
    ProbeObject object;
    EXPECT_EQ(object.initialize(nullptr), E_INVALIDARG);
    host.answerModuleHost = false;
    EXPECT_EQ(object.initialize(&host), E_INVALIDARG);
    EXPECT_EQ(host.refCount, 0) << "nothing is held";
    EXPECT_EQ(timerUserCount(), 0);
    EXPECT_EQ(object.onEvent(5), E_UNEXPECTED);
}

TEST_F(ModuleObjectHostTest, InitializedObjectPassesEventsToOutputNow) {
    ProbeObject object;
    ASSERT_EQ(object.initialize(&host), S_OK);
    EXPECT_EQ(host.refCount, 2) << "the context and its module host";
    EXPECT_EQ(timerUserCount(), 1);
    host.outputNowResult = 7;
    EXPECT_EQ(object.onEvent(42), 7);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"outputEventNow 42"}));

    EXPECT_EQ(object.terminate(), S_OK);
    EXPECT_EQ(host.refCount, 0);
    EXPECT_EQ(object.onEvent(43), E_UNEXPECTED);
    EXPECT_EQ(host.calls.size(), 1u);

    ASSERT_EQ(object.initialize(&host), S_OK) << "initialize may follow terminate";
    ASSERT_EQ(object.initialize(&host), S_OK);
    EXPECT_EQ(host.refCount, 2) << "a second initialize replaces the references";
    EXPECT_EQ(timerUserCount(), 1);
    object.terminate();
}

TEST_F(ModuleObjectHostTest, TimerRunsUntilTheLastObjectTerminates) {
    ProbeObject first, second;
    first.initialize(&host);
    second.initialize(&host);
    EXPECT_EQ(timerUserCount(), 2);
    first.terminate();
    EXPECT_EQ(timerUserCount(), 1);
    first.terminate();
    EXPECT_EQ(timerUserCount(), 1) << "a second terminate gives back nothing";
    second.terminate();
    EXPECT_EQ(timerUserCount(), 0);
}

TEST_F(ModuleObjectHostTest, DestructionWithoutTerminateGivesEverythingBack) {
    ProbeObject* object = new ProbeObject;
    object->initialize(&host);
    object->Release();
    EXPECT_EQ(host.refCount, 0);
    EXPECT_EQ(timerUserCount(), 0);
}

TEST(ModuleObject, GetInfoWritesOnlyIntoALargeEnoughRecord) {
    ProbeObject object;
    object.setEditor(1);
    ModuleInfo info{8, int32_t(0xCAFECAFE)};
    EXPECT_EQ(object.getInfo(&info), S_OK);
    EXPECT_EQ(info.hasEditor, 1);
    info = {4, int32_t(0xCAFECAFE)};
    EXPECT_EQ(object.getInfo(&info), S_OK);
    EXPECT_EQ(info.hasEditor, int32_t(0xCAFECAFE));
    EXPECT_EQ(object.getInfo(nullptr), E_POINTER);
}

TEST(ModuleObject, TransportDefaultsOnlyTrackRunningAndValue) {
    ProbeObject object;
    EXPECT_EQ(object.start(10), S_OK);
    EXPECT_TRUE(object.isRunning());
    EXPECT_EQ(object.process(0, 100, 1), S_OK);
    EXPECT_EQ(object.reposition(5), S_OK);
    EXPECT_EQ(object.cycleJump(0, 100), S_OK);
    EXPECT_TRUE(object.isRunning());
    EXPECT_EQ(object.stop(20), S_OK);
    EXPECT_FALSE(object.isRunning());
    EXPECT_EQ(object.setValue(-3), S_OK);
    EXPECT_EQ(object.lastValue(), -3);
}

TEST(ModuleObject, EmptyParameterRegistryFindsNothing) {
    ProbeObject object;
    ParameterEntry* entry = reinterpret_cast<ParameterEntry*>(0xCAFECAFE);
    EXPECT_EQ(object.findByName("gain", &entry), 1);
    EXPECT_EQ(entry, nullptr);
    entry = reinterpret_cast<ParameterEntry*>(0xCAFECAFE);
    EXPECT_EQ(object.findById(0, &entry), 1);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(object.entryCount(), 0);
    char name[128];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(object.nameByIndex(0, name), 1);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(object.queryEntry(1, 2), 1);
    EXPECT_EQ(object.findByName("gain", nullptr), 1);
}

TEST(ModuleObject, ParameterLookupsMatchExactly) {
    ProbeObject object;
    ParameterEntry gain{11}, pan{22};
    object.addParameter(&gain, "gain");
    object.addParameter(&pan, std::string(200, 'p').c_str());
    ParameterEntry* entry = nullptr;
    EXPECT_EQ(object.findByName("gain", &entry), 0);
    EXPECT_EQ(entry, &gain);
    EXPECT_EQ(object.findByName("Gain", &entry), 1);
    EXPECT_EQ(object.findById(22, &entry), 0);
    EXPECT_EQ(entry, &pan);
    EXPECT_EQ(object.entryCount(), 2);

    char name[128];
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(object.nameByIndex(0, name), 0);
    char expected[128] = "gain";  // padded with NULs
    EXPECT_EQ(0, std::memcmp(name, expected, 128));
    ASSERT_EQ(object.nameByIndex(1, name), 0);
    EXPECT_EQ(std::string(name), std::string(127, 'p'));
    EXPECT_EQ(object.nameByIndex(2, name), 1);
    EXPECT_EQ(object.nameByIndex(-1, name), 1);
    EXPECT_EQ(object.nameByIndex(0, nullptr), 1);
}

TEST(ModuleObject, StateDefaultsReportTheClassOnly) {
    ProbeObject object;
    uint8_t id[16];
    EXPECT_EQ(object.getClassId(id), 0);
    EXPECT_EQ(0, std::memcmp(id, someClass, 16));
    EXPECT_EQ(object.getClassId(nullptr), 1);
    EXPECT_EQ(object.setState("abc", 3), 1);
    int32_t size = int32_t(0xCAFECAFE);
    EXPECT_EQ(object.getState(nullptr, &size), 1);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(object.getState(nullptr, nullptr), 1);

    ModuleObject anonymous(nullptr);
    EXPECT_EQ(anonymous.getClassId(id), 0);
    EXPECT_EQ(0, std::memcmp(id, UniqueId().bytes(), 16));
}

TEST(ModuleObject, ViewParametersOnlyForEditorAndInspector) {
    ProbeObject object;
    for (const char* view : {"editor", "inspector"}) {
        IParameterSet* set = reinterpret_cast<IParameterSet*>(0xCAFECAFE);
        ASSERT_EQ(object.getViewParameters(view, &set), 0) << view;
        EXPECT_EQ(set, static_cast<IParameterSet*>(&object));
        EXPECT_EQ(object.referenceCount(), 2);
        set->Release();
    }
    for (const char* view : {"Editor", "editor ", "", static_cast<const char*>(nullptr)}) {
        IParameterSet* set = reinterpret_cast<IParameterSet*>(0xCAFECAFE);
        EXPECT_EQ(object.getViewParameters(view, &set), 1);
        EXPECT_EQ(set, nullptr);
    }
    EXPECT_EQ(object.getViewParameters("editor", nullptr), 1);
    EXPECT_EQ(object.referenceCount(), 1);
}

TEST(ModuleObject, TemplateComesFromTheTemplateResource) {
    ProbeObject object;
    char name[32], text[64];
    std::memset(name, 'x', sizeof name);
    int32_t size = int32_t(0xCAFECAFE);
    EXPECT_EQ(object.getTemplate("editor", name, text, &size), 1) << "no template resource";
    EXPECT_STREQ(name, "editor");
    EXPECT_EQ(size, int32_t(0xCAFECAFE));

    object.setTemplateResource(9);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(object.getTemplate("inspector", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 11);
    EXPECT_EQ(object.getTemplate("inspector", name, text, &size), 0);
    EXPECT_STREQ(name, "inspector");
    EXPECT_EQ(std::string(text, 11), "<template/>");
    EXPECT_EQ(text[11], 'x') << "only the resource's bytes are copied";

    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(object.getTemplate("propertyPages", name, text, &size), 1);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(object.getTemplate(nullptr, name, text, &size), 1);
}

TEST(ModuleObject, GetResourceReadsTheNumberAsPercentD) {
    ProbeObject object;
    struct Case {
        const char* number;
        int32_t expected;
        int32_t size;
    } cases[] = {
        {"7", 0, 5},       {" 7x", 0, 5},
        {"abc", 1, -1},    {"0", 1, -1},
        {"-7", 1, -1},     {"8", 1, -1},  // no such resource
        {"65543", 1, -1},  // 7 + 0x10000 is no resource number
        {nullptr, 1, -1},
    };
    for (const Case& c : cases) {
        int32_t size = -1;
        EXPECT_EQ(object.getResource(c.number, nullptr, &size), c.expected) << (c.number ? c.number : "null");
        EXPECT_EQ(size, c.size) << (c.number ? c.number : "null");
    }
    char buffer[8] = {};
    EXPECT_EQ(object.getResource("7", buffer, nullptr), 0);
    EXPECT_STREQ(buffer, "hello");
}

TEST(ModuleObject, ViewFactoryDefaultsCreateNothing) {
    ProbeObject object;
    IModuleView* view = reinterpret_cast<IModuleView*>(0xCAFECAFE);
    ViewRect rect{0, 0, 10, 10};
    EXPECT_EQ(object.createView("propertyPages", &rect, &view), 1);
    EXPECT_EQ(view, nullptr);
    EXPECT_EQ(object.createView("propertyPages", &rect, nullptr), 1);
    EXPECT_EQ(object.probeView(0), 1);
}

}  // namespace
