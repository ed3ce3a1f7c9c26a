#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeHost.h"
#include "services/EventConverter.h"
#include "services/SysexAllocator.h"

namespace {

using namespace mfxdata;
using fake::Sentinel;

MfxEvent sentinelRecord() {
    MfxEvent e;
    std::memset(&e, 0xCA, sizeof e);
    return e;
}

MfxEvent record(int32_t type, int32_t time, uint8_t channel, std::vector<uint8_t> data) {
    MfxEvent e = {};
    e.time = time;
    e.channel = channel;
    e.type = type;
    for (size_t i = 0; i < data.size() && i < 7; ++i) e.data[i] = data[i];
    return e;
}

class EventConverterTest : public ::testing::Test {
protected:
    fake::Host host;
    EventConverter converter{&host};

    std::vector<fake::Event> convertBack(const MfxEvent& e, bool split) {
        HostEvent out[2] = {Sentinel, Sentinel};
        int32_t count = Sentinel;
        std::vector<fake::Event> made;
        if (!converter.fromMfxEvent(e, out, &count, split)) return made;
        for (int32_t i = 0; i < count; ++i) made.push_back(host.events.at(out[i]));
        return made;
    }
};

TEST_F(EventConverterTest, ChannelKindsToMfx) {
    struct Case {
        uint32_t kind, d1, d2;
        int32_t type;
        std::vector<uint8_t> data;  // bytes 10 onwards that must be written
    } cases[] = {
        {0xA0, 60, 33, MfxKeyAftertouch, {60, 33}},
        {0xB0, 7, 100, MfxController, {7, 100}},
        {0xC0, 12, 99, MfxProgramChange, {12, 0, 0xFF, 0xFF}},
        {0xD0, 77, 55, MfxChannelPressure, {0xCA, 77}},  // byte 10 untouched
    };
    for (const Case& c : cases) {
        HostEvent h = host.addEvent(c.kind, 3, c.d1, c.d2, 1234);
        MfxEvent e = sentinelRecord();
        ASSERT_TRUE(converter.toMfxEvent(&e, h)) << std::hex << c.kind;
        EXPECT_EQ(1234, e.time);
        EXPECT_EQ(0, e.route);
        EXPECT_EQ(3, e.channel);
        EXPECT_EQ(c.type, e.type);
        for (size_t i = 0; i < c.data.size(); ++i) EXPECT_EQ(c.data[i], e.data[i]) << std::hex << c.kind << " byte " << 10 + i;
        for (size_t i = c.data.size(); i < 7; ++i) EXPECT_EQ(0xCA, e.data[i]) << std::hex << c.kind << " byte " << 10 + i;
    }
}

TEST_F(EventConverterTest, ChannelKindsFromMfx) {
    struct Case {
        int32_t type;
        std::vector<uint8_t> data;
        uint32_t status, d1, d2;
    } cases[] = {
        {MfxKeyAftertouch, {60, 33}, 0xA0, 60, 33},
        {MfxController, {7, 100}, 0xB0, 7, 100},
        {MfxProgramChange, {12, 5, 0x34, 0x12}, 0xC0, 12, 0},
        {MfxChannelPressure, {99, 77}, 0xD0, 77, 0},  // value in byte 11, byte 10 ignored
    };
    for (const Case& c : cases) {
        auto made = convertBack(record(c.type, 50, 9, c.data), true);
        ASSERT_EQ(1u, made.size()) << c.type;
        EXPECT_EQ(c.status, made[0].status) << c.type;
        EXPECT_EQ(c.d1, made[0].data1) << c.type;
        EXPECT_EQ(c.d2, made[0].data2) << c.type;
        EXPECT_EQ(0u, made[0].duration);
        EXPECT_EQ(50, made[0].time);
        EXPECT_EQ(9, made[0].channel);
    }
}

TEST_F(EventConverterTest, NoteToMfxAndBackUnsplit) {
    HostEvent h = host.addEvent(0x90, 2, 60, 100, 960, 480, 64);
    MfxEvent e = sentinelRecord();
    ASSERT_TRUE(converter.toMfxEvent(&e, h));
    EXPECT_EQ(MfxNote, e.type);
    EXPECT_EQ(60, e.data[0]);
    EXPECT_EQ(100, e.data[1]);
    EXPECT_EQ(64, e.data[2]);
    EXPECT_EQ(480u, noteDuration(e));

    auto made = convertBack(e, false);
    ASSERT_EQ(1u, made.size());
    EXPECT_EQ(0x90u, made[0].status);
    EXPECT_EQ(60u, made[0].data1);
    EXPECT_EQ(100u, made[0].data2);
    EXPECT_EQ(480u, made[0].duration);
    EXPECT_EQ(64u, made[0].releaseVelocity);
    EXPECT_EQ(960, made[0].time);
    EXPECT_EQ(2, made[0].channel);
}

TEST_F(EventConverterTest, SplitNoteGivesOnAndVelocityZeroPartner) {
    MfxEvent e = record(MfxNote, 1000, 5, {60, 100, 40});
    setNoteDuration(e, 480);
    HostEvent out[2] = {Sentinel, Sentinel};
    int32_t count = 0;
    ASSERT_TRUE(converter.fromMfxEvent(e, out, &count, true));
    ASSERT_EQ(2, count);
    const fake::Event& on = host.events.at(out[0]);
    const fake::Event& off = host.events.at(out[1]);
    EXPECT_EQ(100u, on.data2);
    EXPECT_EQ(0u, off.data2);
    EXPECT_EQ(0x90u, on.status);
    EXPECT_EQ(0x90u, off.status);
    EXPECT_EQ(60u, off.data1);
    EXPECT_EQ(0u, on.duration);
    EXPECT_EQ(0u, off.duration);
    EXPECT_EQ(1000, on.time);
    EXPECT_EQ(1480, off.time);
    EXPECT_EQ(40u, on.releaseVelocity);
    EXPECT_EQ(40u, off.releaseVelocity);
    EXPECT_EQ(5, on.channel);
    EXPECT_EQ(5, off.channel);
}

TEST_F(EventConverterTest, NoteOfDurationZeroStaysOneEventEitherWay) {
    HostEvent h = host.addEvent(0x90, 0, 64, 90, 10, 0, 0);
    MfxEvent e = sentinelRecord();
    ASSERT_TRUE(converter.toMfxEvent(&e, h));
    EXPECT_EQ(0u, noteDuration(e));
    for (bool split : {false, true}) {
        auto made = convertBack(e, split);
        ASSERT_EQ(1u, made.size()) << split;
        EXPECT_EQ(0u, made[0].duration);
        EXPECT_EQ(90u, made[0].data2);
    }
}

TEST_F(EventConverterTest, PitchWheelCentreAndExtremesRoundTrip) {
    struct Case {
        uint32_t lsb, msb;
        int16_t value;
    } cases[] = {{0x00, 0x40, 0}, {0x7F, 0x7F, 8191}, {0x00, 0x00, -8192}, {0x05, 0x41, 133}};
    for (const Case& c : cases) {
        HostEvent h = host.addEvent(0xE0, 0, c.lsb, c.msb);
        MfxEvent e = sentinelRecord();
        ASSERT_TRUE(converter.toMfxEvent(&e, h));
        EXPECT_EQ(MfxPitchWheel, e.type);
        EXPECT_EQ(c.value, int16_t(readU16(e, 10)));
        auto made = convertBack(e, true);
        ASSERT_EQ(1u, made.size());
        EXPECT_EQ(0xE0u, made[0].status);
        EXPECT_EQ(c.lsb, made[0].data1);
        EXPECT_EQ(c.msb, made[0].data2);
    }
}

TEST_F(EventConverterTest, HostWithoutChannelGivesFF) {
    HostEvent h = host.addEvent(0xB0, -1, 1, 2);
    MfxEvent e = sentinelRecord();
    ASSERT_TRUE(converter.toMfxEvent(&e, h));
    EXPECT_EQ(0xFF, e.channel);
}

TEST_F(EventConverterTest, UnconvertedKindsWriteOnlyTimeRouteAndChannel) {
    for (uint32_t kind : {0x80u, 0x00u, 0x70u}) {
        HostEvent h = host.addEvent(kind, 4, 1, 2, 77);
        MfxEvent e = sentinelRecord();
        EXPECT_FALSE(converter.toMfxEvent(&e, h)) << kind;
        EXPECT_EQ(77, e.time);
        EXPECT_EQ(0, e.route);
        EXPECT_EQ(4, e.channel);
        EXPECT_EQ(int32_t(0xCACACACA), e.type);
    }
}

TEST_F(EventConverterTest, SysexRoundTrip) {
    const std::vector<uint8_t> bytes = {0xF0, 0x43, 0x10, 0x4C, 0xF7};
    HostEvent h = host.addSysex(bytes);
    MfxEvent e = sentinelRecord();
    ASSERT_TRUE(converter.toMfxEvent(&e, h));
    EXPECT_EQ(MfxSysex, e.type);
    const SysexHandle block = blockHandle(e);
    uint8_t* data;
    uint32_t size;
    ASSERT_EQ(S_OK, sysexAllocator().getData(block, &data, &size));
    ASSERT_EQ(bytes.size(), size);
    EXPECT_EQ(0, std::memcmp(data, bytes.data(), size));

    host.calls.clear();
    auto made = convertBack(e, true);
    ASSERT_EQ(1u, made.size());
    EXPECT_EQ(bytes, made[0].sysex);
    EXPECT_EQ(std::vector<std::string>{"createSysexEvent(5)=" + std::to_string(host.nextHandle - 1)},
              host.callsNamed({"createSysexEvent"}));
    EXPECT_TRUE(sysexAllocator().isValid(block));  // the record's owner frees it
    EXPECT_EQ(S_OK, sysexAllocator().free(block));
}

TEST_F(EventConverterTest, SysexOfLengthZeroIsNotConverted) {
    HostEvent h = host.addSysex({});
    MfxEvent e = sentinelRecord();
    EXPECT_FALSE(converter.toMfxEvent(&e, h));
    EXPECT_EQ(MfxSysex, e.type);
    EXPECT_EQ(0u, blockHandle(e));
}

TEST_F(EventConverterTest, BlockTypesNineAndTenAndInvalidBlocksMakeNothing) {
    SysexHandle block = 0;
    ASSERT_EQ(S_OK, sysexAllocator().create(3, &block));
    const size_t before = host.events.size();
    for (int32_t type : {9, 10}) {
        MfxEvent e = record(type, 0, 0, {});
        setBlockHandle(e, block);
        EXPECT_TRUE(convertBack(e, true).empty()) << type;
    }
    ASSERT_EQ(S_OK, sysexAllocator().free(block));
    MfxEvent freed = record(MfxSysex, 0, 0, {});
    setBlockHandle(freed, block);
    EXPECT_TRUE(convertBack(freed, true).empty());
    for (int32_t type : {6, 7, 11, 15, 17, -1}) EXPECT_TRUE(convertBack(record(type, 0, 0, {1, 2, 3}), true).empty());
    EXPECT_EQ(before, host.events.size());
    EXPECT_TRUE(host.callsNamed({"createEvent", "createSysexEvent"}).empty());
}

TEST_F(EventConverterTest, ShortMessagesUseRunningStatus) {
    EXPECT_EQ(0, converter.runningStatus());
    // A data byte before any status byte gives status 0.
    auto first = convertBack(record(MfxShortMessage, 0, 0, {0x3C, 0x40}), false);
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(0u, first[0].status);
    EXPECT_EQ(0x3Cu, first[0].data1);

    auto withStatus = convertBack(record(MfxShortMessage, 10, 0, {0x91, 0x3C, 0x64}), false);
    auto running = convertBack(record(MfxShortMessage, 20, 0, {0x3E, 0x64}), false);
    ASSERT_EQ(1u, withStatus.size());
    ASSERT_EQ(1u, running.size());
    EXPECT_EQ(0x91u, withStatus[0].status);
    EXPECT_EQ(0x3Cu, withStatus[0].data1);
    EXPECT_EQ(0x64u, withStatus[0].data2);
    EXPECT_EQ(0x91u, running[0].status);
    EXPECT_EQ(0x3Eu, running[0].data1);
    EXPECT_EQ(0x64u, running[0].data2);
    EXPECT_EQ(20, running[0].time);
    EXPECT_EQ(0x91, converter.runningStatus());
}

TEST_F(EventConverterTest, ShortEventsBothWays) {
    struct Case {
        uint32_t kind;
        int32_t channel;
        uint8_t status;
    } cases[] = {{0x90, 3, 0x93}, {0xB0, 15, 0xBF}, {0xF0, -1, 0xF0}};
    for (const Case& c : cases) {
        HostEvent h = host.addEvent(c.kind, c.channel, 0x3C, 0x7F, -5);
        MfxShortEvent s;
        std::memset(&s, 0xCA, sizeof s);
        ASSERT_TRUE(converter.toShortEvent(&s, h));
        EXPECT_EQ(-5, s.time);
        EXPECT_EQ(c.status, s.status);
        EXPECT_EQ(0x3C, s.data1);
        EXPECT_EQ(0x7F, s.data2);
        EXPECT_EQ(0xCA, s.unused);
    }
    host.calls.clear();
    const MfxShortEvent s = {300, 0xE2, 0x11, 0x22, 0};
    HostEvent h = converter.fromShortEvent(s);
    EXPECT_EQ((std::vector<std::string>{"createEvent(226,17,34,0)=" + std::to_string(h),
                                         "setEventTime(" + std::to_string(h) + ",300)"}),
              host.calls);
}

TEST(EventConverterWithoutHost, EveryConversionFailsCleanly) {
    EventConverter converter;
    MfxEvent e = sentinelRecord();
    EXPECT_FALSE(converter.toMfxEvent(&e, 1));
    EXPECT_EQ(int32_t(0xCACACACA), e.time);
    HostEvent out[2] = {Sentinel, Sentinel};
    int32_t count = Sentinel;
    EXPECT_FALSE(converter.fromMfxEvent(record(MfxController, 0, 0, {1, 2}), out, &count, true));
    EXPECT_EQ(Sentinel, out[0]);
    EXPECT_EQ(int32_t(Sentinel), count);
    MfxShortEvent s = {};
    EXPECT_FALSE(converter.toShortEvent(&s, 1));
    EXPECT_EQ(0u, converter.fromShortEvent(s));

    fake::Host host;
    converter.setEvents(&host);
    EXPECT_FALSE(converter.toMfxEvent(nullptr, 1));
    EXPECT_FALSE(converter.fromMfxEvent(record(MfxController, 0, 0, {1, 2}), nullptr, &count, true));
    EXPECT_FALSE(converter.fromMfxEvent(record(MfxController, 0, 0, {1, 2}), out, nullptr, true));
    EXPECT_TRUE(converter.fromMfxEvent(record(MfxController, 0, 0, {1, 2}), out, &count, true));
}

}  // namespace
