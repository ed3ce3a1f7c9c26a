#include <gtest/gtest.h>

#include <cstring>

#include "ReferenceHost.h"
#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"

namespace {

using I = ReferenceHost::Interface;

void* const kSentinelPointer = reinterpret_cast<void*>(uintptr_t(0xCAFECAFE));
constexpr int32_t kSentinel = static_cast<int32_t>(0xCAFECAFE);

struct HostFixture : ::testing::Test {
    ComRef<ReferenceHost> host{new ReferenceHost};
};

TEST_F(HostFixture, AnswersEachInterfaceWithOneCount) {
    struct Case {
        const UniqueId& id;
        I which;
        void* expected;
    } cases[] = {
        {hostid::IUnknown, I::Unknown, host->context()},
        {hostid::IMidiModuleHost, I::MidiModuleHost, host->moduleHost()},
        {hostid::IHostEventServices, I::EventServices, host->eventServices()},
        {hostid::IHostTimeConversion, I::TimeConversion, host->timeConversion()},
        {hostid::IHostTransport, I::Transport, host->transport()},
    };
    EXPECT_EQ(host->refCount(), 1);
    for (const Case& c : cases) {
        void* out = kSentinelPointer;
        ASSERT_EQ(host->QueryInterface(c.id.guid(), &out), S_OK);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(host->queryCount(c.which), 1);
        // Asked through the interface just got, the identity is the same object.
        void* identity = nullptr;
        ASSERT_EQ(static_cast<IUnknown*>(out)->QueryInterface(hostid::IUnknown.guid(), &identity), S_OK);
        EXPECT_EQ(identity, host->context());
        static_cast<IUnknown*>(identity)->Release();
        EXPECT_EQ(host->refCount(), 2);
        EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);
    }
    void* out = kSentinelPointer;
    EXPECT_EQ(host->QueryInterface(hostid::IMidiModule.guid(), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(host->QueryInterface(hostid::IUnknown.guid(), nullptr), E_POINTER);
    EXPECT_EQ(host->refCount(), 1);
}

TEST_F(HostFixture, InterfacesCanBeSwitchedOff) {
    for (I which : {I::MidiModuleHost, I::EventServices, I::TimeConversion, I::Transport}) {
        host->offer(which, false);
        EXPECT_FALSE(host->offered(which));
    }
    for (const UniqueId* id : {&hostid::IMidiModuleHost, &hostid::IHostEventServices,
                               &hostid::IHostTimeConversion, &hostid::IHostTransport}) {
        void* out = kSentinelPointer;
        EXPECT_EQ(host->QueryInterface(id->guid(), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    host->offer(I::Transport, true);
    ComRef<IHostTransport> transport;
    EXPECT_EQ(host->QueryInterface(hostid::IHostTransport.guid(), transport.putVoid()), S_OK);
    host->setPosition(1234);
    EXPECT_EQ(transport->position(), 1234);
    EXPECT_EQ(host->refCount(), 2);
}

TEST_F(HostFixture, SlotsBelongToTheirInterface) {
    IMidiModuleHost* midi = host->moduleHost();
    IHostEventServices* services = host->eventServices();
    EXPECT_EQ(midi->setActive(1), 0);
    EXPECT_EQ(host->setActiveCalls(), 1);
    EXPECT_EQ(host->lastActiveFlag(), 1u);
    EXPECT_EQ(services->timerPeriod(), 0);
    host->setTimerPeriod(15);
    EXPECT_EQ(services->timerPeriod(), 15);
    EXPECT_EQ(host->misdirectedCalls(), 0);

    HostEvent h = midi->createEvent(0x90, 60, 100, 0);
    SongInfo info;
    std::memset(&info, 0xCA, sizeof info);
    EXPECT_EQ(services->setActive(1), 1);
    EXPECT_EQ(midi->timerPeriod(), 0);
    EXPECT_EQ(midi->songInfo(0, &info), 1);
    EXPECT_EQ(midi->handOverEvent(h), 1);
    EXPECT_EQ(midi->reserved18(), 1);
    EXPECT_EQ(host->setActiveCalls(), 1);
    EXPECT_EQ(static_cast<uint32_t>(info.tempo), 0xCACACACAu);  // untouched
    auto wrong = host->misdirected();
    ASSERT_EQ(wrong.size(), 5u);
    EXPECT_EQ(wrong[0].via, Via::EventServices);
    EXPECT_EQ(wrong[0].slot, 31);
    EXPECT_EQ(wrong[3].via, Via::MidiModuleHost);
    EXPECT_EQ(wrong[3].slot, 32);
    EXPECT_EQ(host->events().liveHandles(), 1);  // a misdirected hand-over takes nothing

    host->setPosition(77);
    EXPECT_EQ(services->handOverEvent(h), 0);
    EXPECT_TRUE(host->events().balanced());
    auto out = host->events().output();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].via, Via::EventServices);
    EXPECT_EQ(out[0].hostPosition, 77);
}

TEST_F(HostFixture, EventCallsThroughEitherInterfaceShareOneStore) {
    HostEvent note = host->events().newNote(480, 1, 64, 90, 240, 20);
    HostEvent copy = host->moduleHost()->copyEvent(note);
    EXPECT_EQ(host->eventServices()->eventTime(copy), 480);
    EXPECT_EQ(host->eventServices()->releaseVelocity(copy), 20u);
    EXPECT_EQ(host->eventServices()->outputEventNow(copy), 0);
    EXPECT_EQ(host->moduleHost()->releaseEvent(copy), 0);
    EXPECT_TRUE(host->events().balanced());
    auto journal = host->events().journal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0].op, EventOp::Copy);
    EXPECT_EQ(journal[0].source, note);
    EXPECT_EQ(journal[0].via, Via::MidiModuleHost);
    EXPECT_EQ(journal[1].op, EventOp::OutputNow);
    EXPECT_EQ(journal[1].via, Via::EventServices);
    EXPECT_EQ(journal[2].op, EventOp::Release);
}

TEST_F(HostFixture, SongInfoReportsTempoAndMeterAtTheTime) {
    host->addTempo(960, 9000);
    host->addMeter(1920, 6, 8);
    struct Case {
        int32_t time;
        int32_t tempo;
        int16_t numerator;
        int16_t denominatorField;
    } cases[] = {
        {0, 12000, 4, 8},
        {959, 12000, 4, 8},
        {960, 9000, 4, 8},
        {1920, 9000, 6, 16},
        {-10, 12000, 4, 8},
    };
    for (const Case& c : cases) {
        uint8_t raw[sizeof(SongInfo)];
        std::memset(raw, 0xCA, sizeof raw);
        ASSERT_EQ(host->eventServices()->songInfo(c.time, reinterpret_cast<SongInfo*>(raw)), 0);
        int32_t tempo;
        int16_t numerator, denominator;
        std::memcpy(&tempo, raw, 4);
        std::memcpy(&numerator, raw + 40, 2);
        std::memcpy(&denominator, raw + 42, 2);
        EXPECT_EQ(tempo, c.tempo) << c.time;
        EXPECT_EQ(numerator, c.numerator) << c.time;
        EXPECT_EQ(denominator, c.denominatorField) << c.time;
        // The module's reading of the field gives back the denominator.
        EXPECT_EQ(denominator >> 1, c.denominatorField / 2);
        for (int i = 4; i < 40; ++i) EXPECT_EQ(raw[i], 0) << i;
    }
    EXPECT_EQ(host->eventServices()->songInfo(0, nullptr), 1);
}

TEST_F(HostFixture, TimeConversionRoundTripsOverTwoTempos) {
    IHostTimeConversion* tc = host->timeConversion();
    // 120 BPM up to 960 (two quarters), then 60 BPM.
    ASSERT_TRUE(host->addTempo(960, 6000));
    EXPECT_EQ(tc->timeBase(), 480);
    struct Case {
        int32_t time;
        int32_t micros;
    } cases[] = {
        {0, 0}, {480, 500000}, {960, 1000000}, {1440, 2000000}, {1, 1042}, {-480, -500000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tc->timeToRealTime(c.time), c.micros) << c.time;
        EXPECT_EQ(tc->realTimeToTime(c.micros), c.time) << c.micros;
    }
    for (int32_t t = -100; t < 3000; t += 7) EXPECT_EQ(tc->realTimeToTime(tc->timeToRealTime(t)), t) << t;
    EXPECT_EQ(tc->realTimeToTime(1500000), 1200);

    EXPECT_EQ(tc->tempoCount(), 2);
    int32_t time = kSentinel, tempo = kSentinel;
    EXPECT_EQ(tc->tempoEntry(1, &time, &tempo), 0);
    EXPECT_EQ(time, 960);
    EXPECT_EQ(tempo, 6000);
    time = tempo = kSentinel;
    EXPECT_EQ(tc->tempoEntry(2, &time, &tempo), 1);
    EXPECT_EQ(tc->tempoEntry(-1, &time, &tempo), 1);
    EXPECT_EQ(tc->tempoEntry(0, nullptr, &tempo), 1);
    EXPECT_EQ(tc->tempoEntry(0, &time, nullptr), 1);
    EXPECT_EQ(time, kSentinel);
    EXPECT_EQ(tempo, kSentinel);
    EXPECT_EQ(tc->tempoIndexAt(-5), 0);
    EXPECT_EQ(tc->tempoIndexAt(959), 0);
    EXPECT_EQ(tc->tempoIndexAt(960), 1);
    EXPECT_EQ(tc->tempoIndexAt(100000), 1);

    // A coarser time base changes ticks, not seconds.
    ASSERT_TRUE(host->setTimeBase(96));
    EXPECT_EQ(tc->timeToRealTime(96), 500000);
    EXPECT_FALSE(host->setTimeBase(0));
    EXPECT_FALSE(host->addTempo(10, 0));
}

TEST_F(HostFixture, MeasureBeatTickAcrossMeterChanges) {
    IHostTimeConversion* tc = host->timeConversion();
    // Two bars of 4/4 (1920 each), two of 3/4 (1440 each), then 6/8 (beats of 240).
    ASSERT_TRUE(host->addMeter(3840, 3, 4));
    ASSERT_TRUE(host->addMeter(6720, 6, 8));
    struct Case {
        int32_t time, measure, beat, tick;
    } cases[] = {
        {0, 0, 0, 0},       {479, 0, 0, 479},    {1920, 1, 0, 0},   {2400, 1, 1, 0},
        {3839, 1, 3, 479},  {3840, 2, 0, 0},     {5280, 3, 0, 0},   {6719, 3, 2, 479},
        {6720, 4, 0, 0},    {6960, 4, 1, 0},     {8160, 5, 0, 0},   {-1, -1, 3, 479},
    };
    for (const Case& c : cases) {
        int32_t m = kSentinel, b = kSentinel, t = kSentinel;
        ASSERT_EQ(tc->timeToMeasure(c.time, &m, &b, &t), 0);
        EXPECT_EQ(m, c.measure) << c.time;
        EXPECT_EQ(b, c.beat) << c.time;
        EXPECT_EQ(t, c.tick) << c.time;
        EXPECT_EQ(tc->measureToTime(c.measure, c.beat, c.tick), c.time) << c.time;
    }
    int32_t m = kSentinel, b = kSentinel;
    EXPECT_EQ(tc->timeToMeasure(0, &m, &b, nullptr), 1);
    EXPECT_EQ(m, kSentinel);
    EXPECT_EQ(b, kSentinel);

    EXPECT_FALSE(host->addMeter(0, 3, 5));
    EXPECT_FALSE(host->addMeter(0, 0, 4));
}

TEST_F(HostFixture, MeterChangeInsideAMeasureStartsANewOne) {
    IHostTimeConversion* tc = host->timeConversion();
    ASSERT_TRUE(host->addMeter(1000, 3, 4));
    int32_t m, b, t;
    ASSERT_EQ(tc->timeToMeasure(999, &m, &b, &t), 0);
    EXPECT_EQ(m, 0);
    ASSERT_EQ(tc->timeToMeasure(1000, &m, &b, &t), 0);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(tc->measureToTime(2, 0, 0), 2440);
}

}  // namespace
