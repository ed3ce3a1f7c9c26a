#include <gtest/gtest.h>

#include <cstring>

#include "host/UniqueId.h"

namespace {

TEST(UniqueId, FourWordsGiveTheComUnknownBytes) {
    const uint8_t expected[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    UniqueId id(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
    EXPECT_EQ(0, std::memcmp(id.bytes(), expected, 16));
    EXPECT_EQ(hostid::IUnknown, id);
}

TEST(UniqueId, WordsMatchTheirTextForm) {
    UniqueId parsed;
    ASSERT_TRUE(parsed.fromString("{22888DDB-156E-45AE-8358-B34808190625}"));
    EXPECT_EQ(parsed, hostid::IMidiModule);
    ASSERT_TRUE(parsed.fromString("{7a4d811c-5211-4a1f-aed9-d2ee0b43bf9f}"));
    EXPECT_EQ(parsed, hostid::IModuleFactory);
}

TEST(UniqueId, FromStringChecksOnlyTheLength) {
    UniqueId id(1, 2, 3, 4);
    const UniqueId before = id;
    EXPECT_FALSE(id.fromString(nullptr));
    EXPECT_FALSE(id.fromString(""));
    EXPECT_FALSE(id.fromString("{22888DDB-156E-45AE-8358-B3480819062}"));    // 37
    EXPECT_FALSE(id.fromString("{22888DDB-156E-45AE-8358-B348081906250}"));  // 39
    EXPECT_EQ(id, before);
    ASSERT_TRUE(id.fromString("X22888DDBx156Ex45AEx8358xB34808190625X"));
    EXPECT_EQ(id, hostid::IMidiModule);
}

TEST(UniqueId, PairWithoutHexDigitGivesZero) {
    UniqueId id;
    ASSERT_TRUE(id.fromString("{00000001-0002-0003-zz04-05060708090A}"));
    EXPECT_EQ(id.bytes()[8], 0);
    EXPECT_EQ(id.bytes()[9], 4);
    EXPECT_EQ(id.bytes()[15], 0x0A);
}

TEST(UniqueId, EqualityComparesAllSixteenBytes) {
    for (int i = 0; i < 16; ++i) {
        uint8_t raw[16];
        std::memcpy(raw, hostid::IViewFactory.bytes(), 16);
        raw[i] ^= 1;
        EXPECT_FALSE(hostid::IViewFactory.equals(raw)) << "byte " << i;
        EXPECT_NE(UniqueId(raw), hostid::IViewFactory);
    }
    EXPECT_FALSE(hostid::IViewFactory.equals(nullptr));
    EXPECT_EQ(UniqueId(nullptr), UniqueId());
}

}  // namespace
