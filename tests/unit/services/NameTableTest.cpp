#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeHost.h"
#include "services/NameTable.h"
#include "services/NameTableList.h"

namespace {

using fake::Sentinel;

std::string name(IMfxNameTable* t, int32_t value, int32_t capacity = 64) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(S_OK, t->valueName(value, buffer, capacity));
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TEST(CopyText, CutsToCapacityAndTerminates) {
    struct Case {
        const char* source;
        int32_t capacity;
        const char* expected;  // null: nothing written
    } cases[] = {{"0..127", 4, "0.."}, {"0..127", 7, "0..127"}, {"0..127", 50, "0..127"},
                 {"0..127", 1, ""},    {"0..127", 0, nullptr},  {"0..127", -5, nullptr},
                 {"", 3, ""}};
    for (const Case& c : cases) {
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        copyText(buffer, c.source, c.capacity);
        if (!c.expected) {
            EXPECT_EQ('x', buffer[0]) << c.capacity;
            continue;
        }
        EXPECT_STREQ(c.expected, buffer) << c.capacity;
        // Bytes past the terminator are untouched.
        EXPECT_EQ('x', buffer[std::strlen(c.expected) + 1]) << c.capacity;
    }
}

TEST(NameTable, ValueNamesByKind) {
    struct Case {
        int32_t kind, value, capacity;
        const char* expected;
    } cases[] = {{0, 5, 64, "5"},      {2, 5, 64, "5"},       {1, 5, 64, "CC 5"},  {0, -3, 64, "-3"},
                 {0, 200, 64, "200"},  {1, 100, 5, "CC 1"},   {1, 100, 64, "CC 100"}, {7, 5, 64, ""}};
    for (const Case& c : cases) {
        NameTable table(c.kind);
        EXPECT_EQ(c.expected, name(&table, c.value, c.capacity)) << c.kind << " " << c.value;
    }
}

TEST(NameTable, RangeTextAndValueCount) {
    for (int32_t kind : {0, 1, 2}) {
        NameTable table(kind);
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(S_OK, table.rangeText(buffer, 4));
        EXPECT_STREQ("0..", buffer);
        EXPECT_EQ(S_OK, table.rangeText(buffer, 16));
        EXPECT_STREQ("0..127", buffer);
        int32_t count = Sentinel;
        EXPECT_EQ(S_OK, table.valueCount(&count));
        EXPECT_EQ(128, count);
        EXPECT_EQ(S_OK, table.valueCount(nullptr));
        EXPECT_EQ(S_OK, table.rangeText(nullptr, 16));
        EXPECT_EQ(S_OK, table.valueName(1, nullptr, 16));
    }
    NameTable unknown(3);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(S_OK, unknown.rangeText(buffer, 4));
    EXPECT_EQ('x', buffer[0]);
}

TEST(NameTableList, EveryIndexGivesAFreshTableOfTheKind) {
    auto* list = new NameTableList(1);
    int32_t count = Sentinel;
    EXPECT_EQ(S_OK, list->count(&count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(E_POINTER, list->count(nullptr));
    IMfxNameTable* first = nullptr;
    IMfxNameTable* seventh = nullptr;
    ASSERT_EQ(S_OK, list->table(0, &first));
    ASSERT_EQ(S_OK, list->table(7, &seventh));
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, seventh);
    EXPECT_NE(first, seventh);
    EXPECT_EQ("CC 9", name(first, 9));
    EXPECT_EQ("CC 9", name(seventh, 9));
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(0u, seventh->Release());
    EXPECT_EQ(0u, list->Release());
}

TEST(NameTableList, QueryInterface) {
    auto* list = new NameTableList(0);
    void* out = reinterpret_cast<void*>(uintptr_t(Sentinel));
    EXPECT_EQ(S_OK, list->QueryInterface(mfxid::IMfxNameTableList, &out));
    EXPECT_EQ(static_cast<void*>(static_cast<IMfxNameTableList*>(list)), out);
    EXPECT_EQ(E_NOINTERFACE, list->QueryInterface(mfxid::IMfxNameTable, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, list->Release());
    IMfxNameTable* table = nullptr;
    list->table(0, &table);
    EXPECT_EQ(S_OK, table->QueryInterface(mfxid::IMfxNameTable, &out));
    EXPECT_EQ(static_cast<void*>(table), out);
    EXPECT_EQ(E_NOINTERFACE, table->QueryInterface(mfxid::IMfxNameTableList, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1u, table->Release());
    EXPECT_EQ(0u, table->Release());
    EXPECT_EQ(0u, list->Release());
}

}  // namespace
