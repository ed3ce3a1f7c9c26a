#include <gtest/gtest.h>

#include <windows.h>
#include <cstring>
#include <string>

#include "platform/RegistryKey.h"

namespace {

const char* const testRoot = "Software\\PalisanderTest";

// Works against the real registry of the prefix, below a key of its own.
class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, testRoot); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, testRoot); }

    static std::string path(const char* below) { return std::string(testRoot) + "\\" + below; }

    // A raw value, written past the class.
    static void setRaw(const char* below, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path(below).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    RegistryKey registry{HKEY_LOCAL_MACHINE};
};

TEST_F(RegistryKeyTest, WriteTextCreatesMissingKeysAndReadsBack) {
    const std::string deep = path("A\\B\\C");
    ASSERT_TRUE(registry.writeText(deep.c_str(), "Name", "hello"));
    ASSERT_TRUE(registry.writeText(deep.c_str(), nullptr, "default"));
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(registry.readText(deep.c_str(), "Name", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "hello");
    ASSERT_TRUE(registry.readText(deep.c_str(), nullptr, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "default");
    EXPECT_TRUE(registry.writeText(deep.c_str(), "Name", "again")) << "an existing key is opened";
}

TEST_F(RegistryKeyTest, ReadTextGivesOnlyTerminatedText) {
    setRaw("K", "Dword", REG_DWORD, "\x05\0\0\0", 4);
    setRaw("K", "Bare", REG_SZ, "abcd", 4);
    registry.writeText(path("K").c_str(), "Abc", "abc");
    const std::string k = path("K");
    struct Case {
        const char* subkey;
        const char* name;
        uint32_t size;
        bool expected;
    } cases[] = {
        {k.c_str(), "Abc", 4, true},  // text and terminator fill the buffer
        {k.c_str(), "Abc", 3, false},
        {k.c_str(), "Dword", 64, false},
        {k.c_str(), "Missing", 64, false},
        {"Software\\PalisanderTest\\Missing", "Abc", 64, false},
    };
    for (const Case& c : cases) {
        char buffer[64];
        EXPECT_EQ(registry.readText(c.subkey, c.name, buffer, c.size), c.expected) << c.name << " " << c.size;
        if (c.expected) {
            EXPECT_STREQ(buffer, "abc");
        }
    }
    // Stored without a terminator: refused, or handed back terminated where the
    // registry adds the terminator itself (Wine does, given room).
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    if (registry.readText(k.c_str(), "Bare", buffer, sizeof buffer)) {
        EXPECT_STREQ(buffer, "abcd");
    }
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(registry.readText(k.c_str(), "Bare", buffer, 4));
    EXPECT_FALSE(registry.readText(k.c_str(), "Abc", nullptr, 4));
    EXPECT_FALSE(registry.readText(nullptr, "Abc", buffer, 4));
}

TEST_F(RegistryKeyTest, ReadIntConvertsAsPercentD) {
    const std::string k = path("Ints");
    setRaw("Ints", "Dword", REG_DWORD, "\x05\0\0\0", 4);
    struct Case {
        const char* text;
        bool expected;
        int32_t value;
    } cases[] = {
        {" 12abc", true, 12}, {"-7", true, -7}, {"+3", true, 3}, {"abc", false, 0}, {"", false, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(registry.writeText(k.c_str(), "V", c.text));
        int32_t value = int32_t(0xCAFECAFE);
        EXPECT_EQ(registry.readInt(k.c_str(), "V", &value), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected ? c.value : int32_t(0xCAFECAFE)) << '"' << c.text << '"';
    }
    int32_t value = int32_t(0xCAFECAFE);
    EXPECT_FALSE(registry.readInt(k.c_str(), "Dword", &value));
    EXPECT_FALSE(registry.readInt(k.c_str(), "Missing", &value));
    EXPECT_EQ(value, int32_t(0xCAFECAFE));
    EXPECT_FALSE(registry.readInt(k.c_str(), "V", nullptr));
}

TEST_F(RegistryKeyTest, WriteIntStoresDecimalText) {
    const std::string k = path("Ints");
    ASSERT_TRUE(registry.writeInt(k.c_str(), "Zero", 0));
    ASSERT_TRUE(registry.writeInt(k.c_str(), "Negative", -2147483647 - 1));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, k.c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    char data[32];
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "Zero", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(0, std::memcmp(data, "0", 2));
    RegCloseKey(key);
    int32_t value = 0;
    ASSERT_TRUE(registry.readInt(k.c_str(), "Negative", &value));
    EXPECT_EQ(value, -2147483647 - 1);
}

TEST_F(RegistryKeyTest, CountsAndEnumeratesSubkeys) {
    const std::string k = path("List");
    EXPECT_EQ(registry.countSubkeys(k.c_str()), 0) << "missing key";
    for (const char* name : {"One", "Two", "ThreeIsLonger"}) registry.writeText((k + "\\" + name).c_str(), "v", "1");
    EXPECT_EQ(registry.countSubkeys(k.c_str()), 3);

    char name[40];
    std::string seen;
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(registry.enumSubkey(k.c_str(), i, name, sizeof name)) << i;
        seen += std::string(name) + ";";
    }
    EXPECT_NE(seen.find("One;"), std::string::npos);
    EXPECT_NE(seen.find("ThreeIsLonger;"), std::string::npos);
    EXPECT_FALSE(registry.enumSubkey(k.c_str(), 3, name, sizeof name));
    EXPECT_FALSE(registry.enumSubkey(k.c_str(), 100, name, sizeof name));

    // "ThreeIsLonger" needs 14 characters with its terminator.
    int32_t fitted = 0;
    for (uint32_t i = 0; i < 3; ++i) fitted += registry.enumSubkey(k.c_str(), i, name, 13) ? 1 : 0;
    EXPECT_EQ(fitted, 2);
    fitted = 0;
    for (uint32_t i = 0; i < 3; ++i) fitted += registry.enumSubkey(k.c_str(), i, name, 14) ? 1 : 0;
    EXPECT_EQ(fitted, 3);
    EXPECT_FALSE(registry.enumSubkey(path("Missing").c_str(), 0, name, sizeof name));
    EXPECT_FALSE(registry.enumSubkey(k.c_str(), 0, nullptr, sizeof name));
}

}  // namespace
