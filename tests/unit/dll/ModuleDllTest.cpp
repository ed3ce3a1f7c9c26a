#include <gtest/gtest.h>

#include <windows.h>
#include <cstring>
#include <string>

#include "interfaces/HostInterfaces.h"

namespace {

// The built module, beside this test program.
std::string modulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.rfind('\\') + 1) + "palisander.dll";
}

// Loads the module for one test and unloads it after.
class ModuleDllTest : public ::testing::Test {
protected:
    void SetUp() override { module = LoadLibraryA(modulePath().c_str()); }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    HMODULE module = nullptr;
};

// Until the catalogue scan exists the module loads with an empty factory; once it
// refuses to load with no filter registered, these tests need a registered filter.
TEST_F(ModuleDllTest, ExportsTheStaticFactory) {
    ASSERT_NE(module, nullptr) << modulePath() << " error " << GetLastError();
    typedef IModuleFactory* (*GetFactory)();
    GetFactory get = reinterpret_cast<GetFactory>(reinterpret_cast<void*>(GetProcAddress(module, "GetPluginFactory")));
    ASSERT_NE(get, nullptr);
    IModuleFactory* a = get();
    IModuleFactory* b = get();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->classCount(), 0);

    uint8_t info[452];
    std::memset(info, 0xCD, sizeof info);
    uint8_t expected[452] = {};
    std::memcpy(expected, "Cakewalk MIDI Filter", 20);
    expected[448] = 1;
    EXPECT_EQ(a->describeFactory(reinterpret_cast<FactoryInfo*>(info)), S_OK);
    EXPECT_EQ(0, std::memcmp(info, expected, sizeof info));

    // Two references were handed out and come back; a further Release keeps the factory.
    EXPECT_EQ(a->Release(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(a->Release(), 1u);
    EXPECT_EQ(a->classCount(), 0);
}

}  // namespace
