#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "entry/PluginFactory.h"
#include "interfaces/ComExtras.h"
#include "host/UniqueId.h"

extern "C" IModuleFactory* GetPluginFactory();

namespace {

const GUID classA = {0x11111111, 0x2222, 0x3333, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB}};
const GUID classB = {0xA1A2A3A4, 0xB1B2, 0xC1C2, {1, 2, 3, 4, 5, 6, 7, 8}};

// Answers the module identifiers; counts the objects alive.
class FakeObject : public IUnknown {
public:
    static int alive;
    std::string label;
    int32_t refCount = 1;

    explicit FakeObject(std::string label) : label(std::move(label)) { ++alive; }
    virtual ~FakeObject() { --alive; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (hostid::IUnknown.equals(&iid) || hostid::IMidiModule.equals(&iid) || hostid::IModuleBase.equals(&iid)) {
            AddRef();
            *out = this;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refCount); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refCount == 0) {
            delete this;
            return 0;
        }
        return ULONG(refCount);
    }
};
int FakeObject::alive = 0;

struct CreateRecord {
    std::string label;
    bool yieldNothing = false;
    std::vector<std::string>* log;
};

IUnknown* createFake(void* context) {
    CreateRecord* record = static_cast<CreateRecord*>(context);
    record->log->push_back(record->label);
    if (record->yieldNothing) return nullptr;
    return new FakeObject(record->label);
}

class PluginFactoryTest : public ::testing::Test {
protected:
    void SetUp() override { FakeObject::alive = 0; }
    PluginFactory factory{makeFactoryInfo("Cakewalk MIDI Filter", 1)};
    std::vector<std::string> log;
};

TEST(FactoryRecords, FactoryInfoBytes) {
    uint8_t expected[452] = {};
    std::memcpy(expected, "Cakewalk MIDI Filter", 20);
    expected[448] = 1;
    uint8_t out[452];
    std::memset(out, 0xCD, sizeof out);
    EXPECT_EQ(theFactory().describeFactory(reinterpret_cast<FactoryInfo*>(out)), S_OK);
    EXPECT_EQ(0, std::memcmp(out, expected, sizeof out));
    EXPECT_EQ(theFactory().describeFactory(nullptr), S_OK);
}

TEST(FactoryRecords, ClassInfoBytes) {
    uint8_t expected[116] = {};
    std::memcpy(expected, &classA, 16);
    const uint8_t cardinality[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    std::memcpy(expected + 16, cardinality, 4);
    std::memcpy(expected + 20, "Midi Module Class", 17);
    std::memcpy(expected + 52, "Some Filter", 11);
    ClassInfo info = makeClassInfo(classA, "Some Filter");
    EXPECT_EQ(0, std::memcmp(&info, expected, sizeof expected));

    // A long name is cut to 63 characters and still terminated.
    const std::string longName(100, 'x');
    info = makeClassInfo(classA, longName.c_str());
    EXPECT_EQ(std::string(info.name), longName.substr(0, 63));
    info = makeClassInfo(classA, nullptr);
    EXPECT_EQ(info.name[0], 0);
}

TEST_F(PluginFactoryTest, DescribeClassChecksIndexAndStorage) {
    ClassInfo a = makeClassInfo(classA, "A"), b = makeClassInfo(classB, "B");
    CreateRecord record{"a", false, &log};
    ASSERT_TRUE(factory.addClass(&a, createFake, &record));
    ASSERT_TRUE(factory.addClass(&b, createFake, &record));
    EXPECT_EQ(factory.classCount(), 2);

    ClassInfo out;
    std::memset(&out, 0xCD, sizeof out);
    const ClassInfo untouched = out;
    EXPECT_EQ(factory.describeClass(2, &out), E_INVALIDARG);
    EXPECT_EQ(factory.describeClass(-1, &out), E_INVALIDARG);
    EXPECT_EQ(0, std::memcmp(&out, &untouched, sizeof out));
    EXPECT_EQ(factory.describeClass(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(factory.describeClass(1, &out), S_OK);
    EXPECT_EQ(0, std::memcmp(&out, &b, sizeof out));
}

TEST_F(PluginFactoryTest, AddClassRefusesMissingPartsAndTheHundredthClass) {
    ClassInfo a = makeClassInfo(classA, "A");
    CreateRecord record{"a", false, &log};
    EXPECT_FALSE(factory.addClass(nullptr, createFake, &record));
    EXPECT_FALSE(factory.addClass(&a, nullptr, &record));
    EXPECT_EQ(factory.classCount(), 0);
    for (int i = 0; i < 99; ++i) ASSERT_TRUE(factory.addClass(&a, createFake, &record)) << i;
    EXPECT_FALSE(factory.addClass(&a, createFake, &record));
    EXPECT_EQ(factory.classCount(), 99);
}

TEST_F(PluginFactoryTest, CreateInstanceHandsOverTheOnlyReference) {
    ClassInfo a = makeClassInfo(classA, "A");
    CreateRecord record{"a", false, &log};
    factory.addClass(&a, createFake, &record);
    for (const UniqueId* iid : {&hostid::IMidiModule, &hostid::IModuleBase}) {
        void* out = reinterpret_cast<void*>(0xCAFECAFE);
        ASSERT_EQ(factory.createInstance(&classA, &iid->guid(), &out), S_OK);
        FakeObject* object = static_cast<FakeObject*>(static_cast<IUnknown*>(out));
        EXPECT_EQ(object->refCount, 1);
        EXPECT_EQ(object->Release(), 0u);
    }
    EXPECT_EQ(FakeObject::alive, 0);
}

TEST_F(PluginFactoryTest, CreateInstanceFailuresStoreNullAndLeaveNothingAlive) {
    ClassInfo a = makeClassInfo(classA, "A"), b = makeClassInfo(classB, "B");
    CreateRecord makes{"a", false, &log}, yieldsNothing{"b", true, &log};
    factory.addClass(&a, createFake, &makes);
    factory.addClass(&b, createFake, &yieldsNothing);
    const GUID unknownClass = {0x99999999, 0, 0, {0}};
    struct Case {
        const char* what;
        const GUID* classId;
        const GUID* iid;
        HRESULT expected;
    } cases[] = {
        {"unknown class", &unknownClass, &hostid::IMidiModule.guid(), E_NOINTERFACE},
        {"nothing created", &classB, &hostid::IMidiModule.guid(), E_NOINTERFACE},
        {"interface not answered", &classA, &hostid::IViewFactory.guid(), E_NOINTERFACE},
        {"null class", nullptr, &hostid::IMidiModule.guid(), E_POINTER},
        {"null interface", &classA, nullptr, E_POINTER},
    };
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(0xCAFECAFE);
        EXPECT_EQ(factory.createInstance(c.classId, c.iid, &out), c.expected) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_EQ(FakeObject::alive, 0) << c.what;
    }
    log.clear();
    EXPECT_EQ(factory.createInstance(&classA, &hostid::IMidiModule.guid(), nullptr), E_POINTER);
    EXPECT_TRUE(log.empty()) << "nothing is created without storage";
}

TEST_F(PluginFactoryTest, FirstOfTwoRowsWithTheSameClassCreates) {
    ClassInfo a = makeClassInfo(classA, "A");
    CreateRecord first{"first", false, &log}, second{"second", false, &log};
    factory.addClass(&a, createFake, &first);
    factory.addClass(&a, createFake, &second);
    ComRef<IUnknown> object;
    ASSERT_EQ(factory.createInstance(&classA, &hostid::IUnknown.guid(), object.putVoid()), S_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"first"}));
}

TEST_F(PluginFactoryTest, AnswersOnlyItsOwnIdentifiers) {
    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(factory.QueryInterface(hostid::IMidiModule.guid(), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory.QueryInterface(hostid::IModuleFactory.guid(), &out), S_OK);
    EXPECT_EQ(out, static_cast<IModuleFactory*>(&factory));
    EXPECT_EQ(factory.QueryInterface(hostid::IUnknown.guid(), &out), S_OK);
    EXPECT_EQ(factory.referenceCount(), 3);
    EXPECT_EQ(factory.QueryInterface(hostid::IUnknown.guid(), nullptr), E_POINTER);
    EXPECT_EQ(factory.Release(), 2u);
    EXPECT_EQ(factory.Release(), 1u);
    EXPECT_EQ(factory.Release(), 1u) << "the creator's reference is never given up";
}

TEST(Export, GetPluginFactoryHandsOutTheStaticFactoryCounted) {
    const int32_t before = theFactory().referenceCount();
    IModuleFactory* a = GetPluginFactory();
    IModuleFactory* b = GetPluginFactory();
    EXPECT_EQ(a, static_cast<IModuleFactory*>(&theFactory()));
    EXPECT_EQ(a, b);
    EXPECT_EQ(theFactory().referenceCount(), before + 2);
    a->Release();
    b->Release();
    EXPECT_EQ(theFactory().referenceCount(), before);
}

}  // namespace
