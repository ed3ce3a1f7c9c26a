#include <cstring>

#include "FilterFakes.h"
#include "transpose/Transpose.h"

namespace {

class TransposeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(dll.module(), nullptr);
        filter = dll.create<IMfxFilterPlugin>(CLSID_Transpose, mfxid::IMfxFilterPlugin);
        ASSERT_TRUE(filter);
        ASSERT_EQ(filter->QueryInterface(IID_ISampleParameters, params.putVoid()), S_OK);
    }
    std::vector<MfxEvent> run(std::vector<MfxEvent> input) {
        FakeEventList in(std::move(input)), out;
        EXPECT_EQ(filter->filterEvents(0, 479, &in, &out), S_OK);
        return out.records;
    }
    std::vector<MfxShortEvent> live(std::vector<MfxShortEvent> input) {
        FakeShortEventList in(std::move(input)), out;
        EXPECT_EQ(filter->filterLiveEvents(&in, &out), S_OK);
        return out.records;
    }

    ComScope com;
    FilterDll dll{"transpose.dll"};
    ComRef<IMfxFilterPlugin> filter;
    ComRef<ISampleParameters> params;
};

TEST_F(TransposeTest, SemitoneRangeIsMinus48ToPlus48AndTheSetterRefusesTheRest) {
    struct Case {
        int32_t value;
        HRESULT result;
        int32_t after;
    } cases[] = {{-48, S_OK, -48}, {48, S_OK, 48}, {49, E_INVALIDARG, 48}, {-49, E_INVALIDARG, 48},
                 {0x7FFFFFFF, E_INVALIDARG, 48}, {5, S_OK, 5}};
    for (const Case& c : cases) {
        EXPECT_EQ(params->setParameter(Transpose::Semitones, c.value), c.result) << c.value;
        int32_t v = int32_t(0xCAFECAFE);
        EXPECT_EQ(params->getParameter(Transpose::Semitones, &v), S_OK);
        EXPECT_EQ(v, c.after) << c.value;
    }
    EXPECT_EQ(params->setParameter(1, 0), E_INVALIDARG);
    EXPECT_EQ(params->getParameter(0, nullptr), E_POINTER);
}

TEST_F(TransposeTest, ShiftsNotesAndKeyAftertouchAndPassesEverythingElse) {
    ASSERT_EQ(params->setParameter(Transpose::Semitones, 7), S_OK);
    MfxEvent sysex = record(30, MfxSysex, 0);
    mfxdata::setBlockHandle(sysex, 0x12345678);
    std::vector<MfxEvent> input = {note(0, 60, 100, 240, 3), record(10, MfxKeyAftertouch, 60, 50),
                                   record(20, MfxController, 60, 70), sysex,
                                   record(40, MfxPitchWheel, 0x00, 0x10), record(50, MfxProgramChange, 60)};
    std::vector<MfxEvent> out = run(input);
    ASSERT_EQ(out.size(), input.size());
    std::vector<MfxEvent> expected = input;
    expected[0].data[0] = 67;
    expected[1].data[0] = 67;
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(0, memcmp(&out[i], &expected[i], sizeof(MfxEvent))) << "record " << i;
    EXPECT_EQ(mfxdata::blockHandle(out[3]), 0x12345678u);
    EXPECT_EQ(mfxdata::noteDuration(out[0]), 240u);
}

TEST_F(TransposeTest, NotesPushedOutsideTheKeyRangeAreDropped) {
    struct Case {
        int32_t shift;
        uint8_t key;
        int expectedKey;  // -1: dropped
    } cases[] = {{48, 79, 127}, {48, 80, -1}, {-48, 48, 0}, {-48, 47, -1}, {-1, 0, -1}, {1, 127, -1}};
    for (const Case& c : cases) {
        ASSERT_EQ(params->setParameter(Transpose::Semitones, c.shift), S_OK);
        std::vector<MfxEvent> out = run({note(0, c.key, 90), record(5, MfxKeyAftertouch, c.key, 9)});
        if (c.expectedKey < 0) {
            EXPECT_TRUE(out.empty()) << int(c.key) << " + " << c.shift;
        } else {
            ASSERT_EQ(out.size(), 2u);
            EXPECT_EQ(out[0].data[0], c.expectedKey);
            EXPECT_EQ(out[1].data[0], c.expectedKey);
        }
    }
}

TEST_F(TransposeTest, ShortMessageNotesAreShiftedAlsoUnderRunningStatus) {
    ASSERT_EQ(params->setParameter(Transpose::Semitones, -12), S_OK);
    std::vector<MfxEvent> out = run({record(0, MfxShortMessage, 0x91, 72, 100), record(1, MfxShortMessage, 74, 90),
                                     record(2, MfxShortMessage, 0xB1, 7, 100), record(3, MfxShortMessage, 8, 1)});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].data[0], 0x91);
    EXPECT_EQ(out[0].data[1], 60);
    // The running-status note comes out with its status written in.
    EXPECT_EQ(out[1].data[0], 0x91);
    EXPECT_EQ(out[1].data[1], 62);
    EXPECT_EQ(out[1].data[2], 90);
    // Controllers under running status are untouched.
    EXPECT_EQ(out[3].data[0], 8);
    EXPECT_EQ(out[3].data[1], 1);
}

TEST_F(TransposeTest, LiveNotesAreShiftedAndKeepTheirShiftUntilReleased) {
    ASSERT_EQ(params->setParameter(Transpose::Semitones, 2), S_OK);
    std::vector<MfxShortEvent> out = live({shortEvent(0, 0x90, 60, 100), shortEvent(0, 0xA0, 60, 20),
                                           shortEvent(0, 0xB0, 60, 5), shortEvent(0, 0xC0, 60, 0)});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].data1, 62);
    EXPECT_EQ(out[1].data1, 62);
    EXPECT_EQ(out[2].data1, 60);
    EXPECT_EQ(out[3].data1, 60);
    // The setting changes while the key is down: its release still matches its start.
    ASSERT_EQ(params->setParameter(Transpose::Semitones, 5), S_OK);
    out = live({shortEvent(1, 0x80, 60, 0), shortEvent(2, 0x90, 60, 100), shortEvent(3, 0x90, 60, 0)});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].data1, 62);
    EXPECT_EQ(out[1].data1, 65);
    EXPECT_EQ(out[2].data1, 65);
    // Out of range live notes are dropped.
    ASSERT_EQ(params->setParameter(Transpose::Semitones, 48), S_OK);
    EXPECT_TRUE(live({shortEvent(4, 0x90, 100, 1)}).empty());
}

TEST_F(TransposeTest, NullListsAreRefusedAndTransportCallsSucceed) {
    FakeEventList list;
    FakeShortEventList shortList;
    EXPECT_EQ(filter->filterEvents(0, 1, nullptr, &list), E_POINTER);
    EXPECT_EQ(filter->filterEvents(0, 1, &list, nullptr), E_POINTER);
    EXPECT_EQ(filter->filterLiveEvents(nullptr, &shortList), E_POINTER);
    EXPECT_EQ(filter->beginPlayback(0, &list), S_OK);
    EXPECT_EQ(filter->loopPlayback(0, 10, &list), S_OK);
    EXPECT_EQ(filter->endPlayback(10, &list), S_OK);
    EXPECT_TRUE(list.records.empty());
}

}  // namespace
