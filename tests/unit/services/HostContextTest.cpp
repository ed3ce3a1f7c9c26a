#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeHost.h"
#include "services/HostContext.h"
#include "services/SysexAllocator.h"

namespace {

using namespace mfxdata;
using fake::callSlot;
using fake::Sentinel;
using Calls = std::vector<std::string>;

const int32_t S = int32_t(Sentinel);

template <class I>
ComRef<I> query(HostContext* context, const GUID& iid) {
    ComRef<I> out;
    EXPECT_EQ(S_OK, context->primary()->QueryInterface(iid, out.putVoid()));
    return out;
}

class HostContextTest : public ::testing::Test {
protected:
    fake::Host host;
    HostContext* context = nullptr;

    void SetUp() override { context = new HostContext(host.unknown()); }
    void TearDown() override {
        if (context) context->disown();
        EXPECT_EQ(1, host.refs);  // every host reference given back
    }
};

TEST_F(HostContextTest, TakesAReferenceForEachHostInterface) {
    EXPECT_EQ(5, host.refs);  // the object and its three interfaces
}

TEST_F(HostContextTest, QueryInterfaceGivesEachTableOnce) {
    struct Case {
        const GUID* iid;
        void* expected;
    } cases[] = {
        {&comid::IUnknown, static_cast<IMfxTempoQuery*>(context)},
        {&mfxid::IMfxTempoQuery, static_cast<IMfxTempoQuery*>(context)},
        {&mfxid::IMfxMeterQuery, static_cast<IMfxMeterQuery*>(context)},
        {&mfxid::IMfxKeyQuery, static_cast<IMfxKeyQuery*>(context)},
        {&mfxid::IMfxNameProvider, static_cast<IMfxNameProvider*>(context)},
        {&mfxid::IMfxTimerControl, static_cast<IMfxTimerControl*>(context)},
        {&mfxid::IMfxEventOutput, static_cast<IMfxEventOutput*>(context)},
        {&mfxid::IMfxHostProperties, static_cast<IMfxHostProperties*>(context)},
    };
    std::vector<void*> seen;
    for (const Case& c : cases) {
        void* out = nullptr;
        // Asked through a secondary table, as a filter holding that one would.
        ASSERT_EQ(S_OK, context->eventOutput()->QueryInterface(*c.iid, &out));
        EXPECT_EQ(c.expected, out);
        seen.push_back(out);
    }
    EXPECT_EQ(1 + 8, context->referenceCount());
    for (void* p : seen) static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(context->primary(), seen[0]);
    EXPECT_EQ(context->eventOutput(), seen[6]);

    for (const GUID* iid : {&mfxid::IMfxEventList, &mfxid::IMfxSysexAllocator, &mfxid::IMfxNameTable}) {
        void* out = reinterpret_cast<void*>(uintptr_t(Sentinel));
        EXPECT_EQ(E_NOINTERFACE, context->primary()->QueryInterface(*iid, &out));
        EXPECT_EQ(nullptr, out);
    }
    EXPECT_EQ(E_POINTER, context->primary()->QueryInterface(mfxid::IMfxTempoQuery, nullptr));
    EXPECT_EQ(1, context->referenceCount());
    // A filter that releases once too often, through any table, can't take the owner's share.
    EXPECT_EQ(1u, context->eventOutput()->Release());
    EXPECT_EQ(1u, context->primary()->Release());
    EXPECT_EQ(5, host.refs);
}

TEST_F(HostContextTest, RealTimeConversion) {
    auto tempo = query<IMfxTempoQuery>(context, mfxid::IMfxTempoQuery);
    struct Case {
        int32_t hostRealTime, expected;
    } cases[] = {{1999, 1}, {-1999, -1}, {2000, 2}, {999, 0}, {-1000, -1}};
    for (const Case& c : cases) {
        host.realTimeAnswer = c.hostRealTime;
        EXPECT_EQ(c.expected, tempo->toRealTime(7)) << c.hostRealTime;
    }
    host.calls.clear();
    host.timeAnswer = 321;
    EXPECT_EQ(321, tempo->fromRealTime(5));
    EXPECT_EQ(Calls{"realTimeToTime(5000)"}, host.calls);
}

TEST_F(HostContextTest, TempoValuesComeFromTheHost) {
    auto tempo = query<IMfxTempoQuery>(context, mfxid::IMfxTempoQuery);
    host.timeBaseAnswer = 960;
    host.tempoCountAnswer = 3;
    host.tempoIndexAnswer = 2;
    EXPECT_EQ(960, tempo->timeBase());
    EXPECT_EQ(3, tempo->tempoCount());
    EXPECT_EQ(2, tempo->tempoIndexAt(4000));

    host.tempoEntryTime = 480;
    host.tempoEntryTempo = 120000;
    int32_t time = S, value = S;
    EXPECT_EQ(S_OK, tempo->tempoEntry(1, &time, &value));
    EXPECT_EQ(480, time);
    EXPECT_EQ(120000, value);

    host.tempoEntryResult = 1;
    time = value = S;
    EXPECT_EQ(E_UNEXPECTED, tempo->tempoEntry(9, &time, &value));
    EXPECT_EQ(S, time);
    EXPECT_EQ(S, value);
    EXPECT_EQ(E_POINTER, tempo->tempoEntry(1, nullptr, &value));
    EXPECT_EQ(E_POINTER, tempo->tempoEntry(1, &time, nullptr));
}

TEST_F(HostContextTest, TempoAtTheCurrentPosition) {
    auto tempo = query<IMfxTempoQuery>(context, mfxid::IMfxTempoQuery);
    host.positionAnswer = 7680;
    host.song.tempo = 100000;
    host.calls.clear();
    int32_t time = S, value = S;
    EXPECT_EQ(S_OK, tempo->tempoEntry(-1, &time, &value));
    EXPECT_EQ(7680, time);
    EXPECT_EQ(100000, value);
    EXPECT_EQ((Calls{"position()", "songInfo(7680)"}), host.calls);
}

TEST_F(HostContextTest, MeasuresAndBeatsCountFromOne) {
    auto meter = query<IMfxMeterQuery>(context, mfxid::IMfxMeterQuery);
    int32_t m = S, b = S, t = S;
    EXPECT_EQ(S_OK, meter->timeToMeasure(100, &m, &b, &t));
    EXPECT_EQ(1, m);
    EXPECT_EQ(1, b);
    EXPECT_EQ(0, t);

    host.measureAnswer[0] = 4;
    host.measureAnswer[1] = 2;
    host.measureAnswer[2] = 55;
    EXPECT_EQ(S_OK, meter->timeToMeasure(100, &m, &b, &t));
    EXPECT_EQ(5, m);
    EXPECT_EQ(3, b);
    EXPECT_EQ(55, t);

    host.measureResult = 1;
    m = b = t = S;
    EXPECT_EQ(E_UNEXPECTED, meter->timeToMeasure(100, &m, &b, &t));
    EXPECT_EQ(S, m);
    EXPECT_EQ(S, b);
    EXPECT_EQ(S, t);
    EXPECT_EQ(E_POINTER, meter->timeToMeasure(100, &m, nullptr, &t));

    host.calls.clear();
    host.measureTimeAnswer = 1920;
    EXPECT_EQ(1920, meter->measureToTime(1, 1, 0));
    EXPECT_EQ(1920, meter->measureToTime(3, 2, 10));
    EXPECT_EQ((Calls{"measureToTime(0,0,0)", "measureToTime(2,1,10)"}), host.callsNamed({"measureToTime"}));
}

TEST_F(HostContextTest, MeterFromTheSongRecord) {
    auto meter = query<IMfxMeterQuery>(context, mfxid::IMfxMeterQuery);
    EXPECT_EQ(0, meter->meterIndexAt(5000));
    EXPECT_EQ(1, meter->meterCount());
    struct Case {
        int16_t numerator, denominator;
        int32_t expected;
    } cases[] = {{3, 8, 4}, {4, 4, 2}, {6, 16, 8}, {5, -4, -2}};
    for (const Case& c : cases) {
        host.song.meterNumerator = c.numerator;
        host.song.meterDenominator = c.denominator;
        int32_t time = S, num = S, den = S;
        EXPECT_EQ(S_OK, meter->meterEntry(2, &time, &num, &den));
        EXPECT_EQ(0, time);
        EXPECT_EQ(c.numerator, num);
        EXPECT_EQ(c.expected, den) << c.denominator;
    }
    host.calls.clear();
    int32_t den = S;
    EXPECT_EQ(S_OK, meter->meterEntry(3, nullptr, nullptr, &den));
    EXPECT_EQ(-2, den);
    EXPECT_EQ(Calls{"songInfo(3)"}, host.calls);  // the index goes as the time
}

TEST_F(HostContextTest, KeyIsAlwaysTheFirst) {
    auto key = query<IMfxKeyQuery>(context, mfxid::IMfxKeyQuery);
    EXPECT_EQ(0, key->keyIndexAt(999));
    EXPECT_EQ(1, key->keyCount());
    int32_t a = S, b = S;
    EXPECT_EQ(S_OK, key->keyEntry(17, &a, &b));
    EXPECT_EQ(0, a);
    EXPECT_EQ(0, b);
    a = S;
    EXPECT_EQ(E_POINTER, key->keyEntry(0, &a, nullptr));
    EXPECT_EQ(S, a);
}

TEST_F(HostContextTest, NameProviderMakesListsOfEachKind) {
    auto names = query<IMfxNameProvider>(context, mfxid::IMfxNameProvider);
    struct Case {
        HRESULT (STDMETHODCALLTYPE IMfxNameProvider::*method)(IMfxNameTableList**);
        const char* name5;
    } cases[] = {{&IMfxNameProvider::numberNameTables, "5"},
                 {&IMfxNameProvider::numberNameTables2, "5"},
                 {&IMfxNameProvider::controllerNameTables, "CC 5"}};
    for (const Case& c : cases) {
        ComRef<IMfxNameTableList> list;
        ASSERT_EQ(S_OK, (names.get()->*c.method)(list.put()));
        ASSERT_TRUE(list);
        ComRef<IMfxNameTable> table;
        ASSERT_EQ(S_OK, list->table(0, table.put()));
        char buffer[16] = {};
        table->valueName(5, buffer, sizeof buffer);
        EXPECT_STREQ(c.name5, buffer);
        EXPECT_EQ(E_POINTER, (names.get()->*c.method)(nullptr));
    }
}

TEST_F(HostContextTest, TimerPeriodAndSwitch) {
    auto timer = query<IMfxTimerControl>(context, mfxid::IMfxTimerControl);
    int32_t period = S;
    host.period = 0;
    EXPECT_EQ(S_OK, timer->timerPeriod(&period));
    EXPECT_EQ(20, period);
    host.period = 5;
    EXPECT_EQ(S_OK, timer->timerPeriod(&period));
    EXPECT_EQ(5, period);
    EXPECT_EQ(E_POINTER, timer->timerPeriod(nullptr));

    EXPECT_FALSE(context->timerRequested());
    EXPECT_EQ(S_OK, timer->startTimer());
    EXPECT_TRUE(context->timerRequested());
    EXPECT_EQ(S_OK, timer->stopTimer());
    EXPECT_FALSE(context->timerRequested());
}

TEST_F(HostContextTest, SentNoteWithRouteZeroIsSplitAndOutputAtOnce) {
    MfxEvent note = {};
    note.time = 100;
    note.channel = 1;
    note.type = MfxNote;
    note.data[0] = 60;
    note.data[1] = 90;
    setNoteDuration(note, 240);
    host.calls.clear();
    EXPECT_EQ(S_OK, context->eventOutput()->sendEvent(0x1234, &note));
    const HostEvent on = host.nextHandle - 2, off = host.nextHandle - 1;
    auto h = [](HostEvent e) { return std::to_string(e); };
    EXPECT_EQ((Calls{"setLive(" + h(on) + ",1)", "outputEventNow(" + h(on) + ")", "releaseEvent(" + h(on) + ")",
                     "setLive(" + h(off) + ",1)", "outputEventNow(" + h(off) + ")", "releaseEvent(" + h(off) + ")"}),
              host.callsNamed({"setLive", "outputEventNow", "releaseEvent", "handOverEvent"}));
    EXPECT_TRUE(host.events.empty());  // both released
}

TEST_F(HostContextTest, SentNoteWithRouteFFIsHandedOverWhole) {
    MfxEvent note = {};
    note.time = 100;
    note.route = 0xFF;
    note.type = MfxNote;
    note.data[0] = 60;
    note.data[1] = 90;
    setNoteDuration(note, 240);
    host.calls.clear();
    EXPECT_EQ(S_OK, context->eventOutput()->sendEvent(0, &note));
    ASSERT_EQ(1u, host.events.size());
    const HostEvent e = host.events.begin()->first;
    EXPECT_EQ(240u, host.events[e].duration);
    EXPECT_EQ(1u, host.events[e].live);
    EXPECT_EQ((Calls{"setLive(" + std::to_string(e) + ",1)", "handOverEvent(" + std::to_string(e) + ")"}),
              host.callsNamed({"setLive", "outputEventNow", "releaseEvent", "handOverEvent"}));
}

TEST_F(HostContextTest, UnconvertibleOrMissingEventSendsNothing) {
    MfxEvent e = {};
    e.type = 7;
    host.calls.clear();
    EXPECT_EQ(E_UNEXPECTED, context->eventOutput()->sendEvent(0, &e));
    e.route = 0xFF;
    EXPECT_EQ(E_UNEXPECTED, context->eventOutput()->sendEvent(0, &e));
    EXPECT_EQ(E_POINTER, context->eventOutput()->sendEvent(0, nullptr));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostContextTest, SentSysexKeepsItsBlock) {
    SysexHandle block = 0;
    ASSERT_EQ(S_OK, sysexAllocator().create(3, &block));
    uint8_t* data;
    uint32_t size;
    sysexAllocator().getData(block, &data, &size);
    data[0] = 0xF0;
    data[1] = 0x01;
    data[2] = 0xF7;
    MfxEvent e = {};
    e.type = MfxSysex;
    setBlockHandle(e, block);
    EXPECT_EQ(S_OK, context->eventOutput()->sendEvent(0, &e));
    EXPECT_EQ(1u, host.callsNamed({"createSysexEvent"}).size());
    EXPECT_TRUE(sysexAllocator().isValid(block));  // the filter's block, not ours to free
    sysexAllocator().free(block);
}

TEST_F(HostContextTest, PositionIsTheOneProperty) {
    auto properties = query<IMfxHostProperties>(context, mfxid::IMfxHostProperties);
    host.positionAnswer = 4242;
    struct Case {
        uint32_t flags;
        int32_t property;
        HRESULT expected;
    } cases[] = {{0, 3, S_OK}, {1, 3, E_NOTIMPL}, {0, 2, E_NOTIMPL}, {0, 4, E_NOTIMPL}};
    for (const Case& c : cases) {
        int32_t record[3] = {c.property, S, S};
        EXPECT_EQ(c.expected, properties->getProperty(c.flags, record));
        EXPECT_EQ(S, record[1]);
        EXPECT_EQ(c.expected == S_OK ? 4242 : S, record[2]);
    }
    EXPECT_EQ(E_NOTIMPL, properties->getProperty(0, nullptr));
    EXPECT_EQ(E_NOTIMPL, properties->reserved3(1, 2));
    EXPECT_EQ(E_NOTIMPL, properties->reserved4(1, 2));
    EXPECT_EQ(E_NOTIMPL, properties->reserved5(1, 2));
}

TEST_F(HostContextTest, TableSlotsInOrder) {
    host.timeBaseAnswer = 480;
    host.period = 7;
    host.positionAnswer = 99;
    EXPECT_EQ(480, callSlot<int32_t>(context->primary(), 5));
    EXPECT_EQ(1, callSlot<int32_t>(static_cast<IMfxMeterQuery*>(context), 6));
    EXPECT_EQ(1, callSlot<int32_t>(static_cast<IMfxKeyQuery*>(context), 4));
    int32_t period = 0;
    EXPECT_EQ(S_OK, (callSlot<HRESULT, int32_t*>(static_cast<IMfxTimerControl*>(context), 3, &period)));
    EXPECT_EQ(7, period);
    EXPECT_EQ(S_OK, callSlot<HRESULT>(static_cast<IMfxTimerControl*>(context), 4));
    EXPECT_TRUE(context->timerRequested());
    int32_t record[3] = {3, 0, 0};
    EXPECT_EQ(S_OK, (callSlot<HRESULT, uint32_t, int32_t*>(static_cast<IMfxHostProperties*>(context), 6, 0u, record)));
    EXPECT_EQ(99, record[2]);
    // AddRef through a secondary table counts the one object.
    EXPECT_EQ(2u, callSlot<ULONG>(static_cast<IMfxHostProperties*>(context), 1));
    EXPECT_EQ(1u, callSlot<ULONG>(static_cast<IMfxKeyQuery*>(context), 2));
}

TEST_F(HostContextTest, AFiltersLastReleaseFromAnyTableDestroysOnceTheOwnerLetGo) {
    IMfxEventOutput* output = nullptr;
    ASSERT_EQ(S_OK, context->primary()->QueryInterface(mfxid::IMfxEventOutput, reinterpret_cast<void**>(&output)));
    context->disown();
    context = nullptr;
    EXPECT_EQ(5, host.refs);
    EXPECT_EQ(0u, output->Release());
    EXPECT_EQ(1, host.refs);
}

TEST(HostContextWithoutHost, FixedAnswers) {
    for (bool nullObject : {true, false}) {
        fake::Host host;
        host.offersEvents = host.offersTime = host.offersTransport = false;
        HostContext* context = new HostContext(nullObject ? nullptr : host.unknown());
        IMfxTempoQuery* tempo = context->primary();
        EXPECT_EQ(0, tempo->fromRealTime(5));
        EXPECT_EQ(0, tempo->toRealTime(5));
        EXPECT_EQ(0, tempo->timeBase());
        EXPECT_EQ(0, tempo->tempoIndexAt(5));
        EXPECT_EQ(0, tempo->tempoCount());
        int32_t a = S, b = S, c = S;
        EXPECT_EQ(E_UNEXPECTED, tempo->tempoEntry(-1, &a, &b));
        EXPECT_EQ(E_UNEXPECTED, tempo->tempoEntry(0, &a, &b));
        EXPECT_EQ(E_UNEXPECTED, context->timeToMeasure(0, &a, &b, &c));
        EXPECT_EQ(0, context->measureToTime(1, 1, 0));
        EXPECT_EQ(E_UNEXPECTED, context->meterEntry(0, &a, &b, &c));
        EXPECT_EQ(S, a);
        EXPECT_EQ(S, b);
        EXPECT_EQ(S, c);
        int32_t period = S;
        EXPECT_EQ(S_OK, context->timerPeriod(&period));
        EXPECT_EQ(20, period);
        MfxEvent e = {};
        e.type = MfxController;
        EXPECT_EQ(E_UNEXPECTED, context->sendEvent(0, &e));
        int32_t record[3] = {3, S, S};
        EXPECT_EQ(E_UNEXPECTED, context->getProperty(0, record));
        EXPECT_EQ(S, record[2]);
        context->disown();
        EXPECT_EQ(1, host.refs);
        EXPECT_TRUE(host.calls.empty());
    }
}

TEST(HostContextWithoutTransport, CurrentTempoIsUnexpected) {
    fake::Host host;
    host.offersTransport = false;
    HostContext* context = new HostContext(host.unknown());
    int32_t a = S, b = S;
    EXPECT_EQ(E_UNEXPECTED, context->tempoEntry(-1, &a, &b));
    EXPECT_EQ(S, a);
    EXPECT_EQ(S, b);
    context->disown();
    EXPECT_EQ(1, host.refs);
}

}  // namespace
