// State save and restore of the real module over the test filter's IPersistStream:
// the host's two-call getState, setState, and the faults of Save and Load.
#include "unit/instance/ModuleFixture.h"

#include "interfaces/ComExtras.h"
#include "unit/editorstate/StillProcessing.h"

namespace {

using namespace fixture;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

const int32_t kUntouched = int32_t(0xCAFECAFE);

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 251);
    return b;
}

class State : public InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        init();
        persistence.reset(query<IStatePersistence>(instance, hostid::IStatePersistence));
        ASSERT_TRUE(persistence);
    }
    void TearDown() override {
        persistence.reset();
        InstanceTest::TearDown();
    }
    void saveBytes(const Bytes& b) { control.SetSaveBytes(b.data(), int32_t(b.size())); }
    // The host's two calls; the block, or nothing when either call refused.
    bool fetch(Bytes* out) {
        int32_t size = kUntouched;
        if (persistence->getState(nullptr, &size) != 0) return false;
        Bytes buffer(size_t(size) + 8, 0xEE);
        int32_t capacity = size;
        if (persistence->getState(buffer.data(), &capacity) != 0) return false;
        EXPECT_EQ(capacity, size);
        EXPECT_EQ(Bytes(buffer.begin() + size, buffer.end()), Bytes(8, 0xEE)) << "written past the block";
        buffer.resize(size_t(size));
        *out = buffer;
        return true;
    }
    // The instance still processes: a note passes through a range.
    void expectProcessing() { expectStillProcessing(instance, host, &now_); }
    ComRef<IStatePersistence> persistence;
    int32_t now_ = 0;
};

TEST_F(State, ARoundTripHandsLoadExactlyWhatSaveWrote) {
    for (size_t n : {size_t(1), size_t(10), size_t(4099), size_t(1) << 20}) {
        SCOPED_TRACE(n);
        control.ClearLog();
        const Bytes saved = pattern(n);
        saveBytes(saved);
        Bytes block;
        ASSERT_TRUE(fetch(&block));
        EXPECT_TRUE(block == saved);
        EXPECT_EQ(calls({TfSave, TfLoad}), (Strings{"Save(1)"}));

        saveBytes({});  // what Load gets must come from the block, not the filter
        EXPECT_EQ(0, persistence->setState(block.data(), int32_t(block.size())));
        EXPECT_TRUE(control.loadedBytes() == saved);
        TfLoadInfo load = control.loadInfo();
        EXPECT_EQ(load.entryPosition, 0);
        EXPECT_EQ(load.statResult, S_OK);
        EXPECT_EQ(load.statSize, int32_t(n));
        EXPECT_EQ(load.bytesRead, int32_t(n));
    }
}

TEST_F(State, TheBlockEndsAtTheHighestOffsetWrittenNotTheFinalPosition) {
    control.SetSaveMode(TfSaveSeekBack);
    Bytes block;
    ASSERT_TRUE(fetch(&block));
    EXPECT_EQ(block, (Bytes{0x00, 0x01, 0xA0, 0xA1, 0xA2, 0x05, 0x06, 0x07, 0x08, 0x09}));
}

TEST_F(State, ABufferOneByteTooSmallCopiesNothingAndCostsTheSnapshot) {
    saveBytes(pattern(16));
    int32_t size = kUntouched;
    ASSERT_EQ(0, persistence->getState(nullptr, &size));
    ASSERT_EQ(size, 16);
    Bytes buffer(16, 0xEE);
    int32_t capacity = 15;
    EXPECT_EQ(1, persistence->getState(buffer.data(), &capacity));
    EXPECT_EQ(capacity, 15);
    EXPECT_EQ(buffer, Bytes(16, 0xEE));
    capacity = 16;
    EXPECT_EQ(1, persistence->getState(buffer.data(), &capacity));
    EXPECT_EQ(buffer, Bytes(16, 0xEE));
    // A fresh size request starts over.
    Bytes block;
    ASSERT_TRUE(fetch(&block));
    EXPECT_EQ(block, pattern(16));
}

TEST_F(State, ACopyWithoutASizeRequestOrWithoutSizeIsRefused) {
    saveBytes(pattern(4));
    Bytes buffer(8, 0xEE);
    int32_t capacity = 8;
    EXPECT_EQ(1, persistence->getState(buffer.data(), &capacity));
    EXPECT_EQ(capacity, 8);
    EXPECT_EQ(1, persistence->getState(nullptr, nullptr));
    EXPECT_EQ(1, persistence->getState(buffer.data(), nullptr));
    EXPECT_EQ(buffer, Bytes(8, 0xEE));
    EXPECT_TRUE(calls({TfSave}).empty());
}

TEST_F(State, ASecondSizeRequestSavesAfresh) {
    saveBytes(pattern(4));
    int32_t size = kUntouched;
    ASSERT_EQ(0, persistence->getState(nullptr, &size));
    EXPECT_EQ(size, 4);
    const Bytes second = {9, 8, 7, 6, 5, 4};
    saveBytes(second);
    Bytes block;
    ASSERT_TRUE(fetch(&block));
    EXPECT_EQ(block, second);
    EXPECT_EQ(calls({TfSave}), (Strings{"Save(1)", "Save(1)"}));
}

TEST_F(State, ASaveThatWritesNothingGivesSizeZeroAndThenARefusal) {
    int32_t size = kUntouched;
    EXPECT_EQ(0, persistence->getState(nullptr, &size));
    EXPECT_EQ(size, 0);
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int32_t capacity = 4;
    EXPECT_EQ(1, persistence->getState(buffer, &capacity));
    EXPECT_EQ(capacity, 4);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(State, AFailingOrRaisingSaveIsRefusedAndTheInstanceStaysUsable) {
    struct Case {
        HRESULT result;
        int32_t raise;
    } cases[] = {{E_FAIL, TfRaiseNone}, {S_FALSE, TfRaiseNone}, {S_OK, TfRaiseAccessViolation}, {S_OK, TfRaiseCxxSeh}};
    saveBytes(pattern(8));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << "/" << c.raise);
        control.SetResult(TfSave, c.result);
        control.SetRaise(TfSave, c.raise);
        int32_t size = kUntouched;
        EXPECT_EQ(1, persistence->getState(nullptr, &size));
        control.SetResult(TfSave, S_OK);
        control.SetRaise(TfSave, TfRaiseNone);
        Bytes block;
        ASSERT_TRUE(fetch(&block));
        EXPECT_EQ(block, pattern(8));
        expectProcessing();
    }
}

TEST_F(State, SetStateRefusesEmptyNegativeOrMissingDataWithoutCallingLoad) {
    const uint8_t data[4] = {1, 2, 3, 4};
    struct Case {
        const void* data;
        int32_t size;
    } cases[] = {{data, 0}, {data, -1}, {data, INT32_MIN}, {nullptr, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(1, persistence->setState(c.data, c.size));
    }
    EXPECT_EQ(control.loadInfo().loads, 0);
    EXPECT_TRUE(calls({TfLoad}).empty());
}

TEST_F(State, AFailingOrRaisingLoadIsRefusedAndTheInstanceStaysUsable) {
    struct Case {
        HRESULT result;
        int32_t raise;
    } cases[] = {{E_FAIL, TfRaiseNone}, {S_FALSE, TfRaiseNone}, {S_OK, TfRaiseAccessViolation}, {S_OK, TfRaiseCxxSeh}};
    const Bytes data = pattern(32);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << "/" << c.raise);
        control.SetResult(TfLoad, c.result);
        control.SetRaise(TfLoad, c.raise);
        EXPECT_EQ(1, persistence->setState(data.data(), int32_t(data.size())));
        EXPECT_TRUE(control.loadedBytes() == data);  // Load did run and read it all
        control.SetResult(TfLoad, S_OK);
        control.SetRaise(TfLoad, TfRaiseNone);
        EXPECT_EQ(0, persistence->setState(data.data(), 5));
        EXPECT_EQ(control.loadInfo().statSize, 5);
        expectProcessing();
    }
}

TEST_F(State, AFilterWithoutPersistStreamHasNoStateButItsClassId) {
    control.SetInterfaces(TfHasOutputConnect | TfHasPropertyPages);
    IMidiModule* other = module->create(CLSID_TestFilter1);
    ASSERT_NE(other, nullptr);
    {
        ComRef<IStatePersistence> p(query<IStatePersistence>(other, hostid::IStatePersistence));
        ASSERT_TRUE(p);
        const uint8_t data[4] = {1, 2, 3, 4};
        EXPECT_EQ(1, p->setState(data, 4));
        int32_t size = kUntouched;
        EXPECT_EQ(1, p->getState(nullptr, &size));
        uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        int32_t capacity = 4;
        EXPECT_EQ(1, p->getState(buffer, &capacity));
        EXPECT_EQ(buffer[0], 0xEE);
        uint8_t id[17];
        std::memset(id, 0xEE, sizeof id);
        EXPECT_EQ(0, p->getClassId(id));
        EXPECT_EQ(0, std::memcmp(id, &CLSID_TestFilter1, 16));
        EXPECT_EQ(id[16], 0xEE);
    }
    EXPECT_TRUE(calls({TfSave, TfLoad}).empty());
    other->Release();
}

}  // namespace
