// A million mixed host calls across instances of several filter classes, seeded and
// repeatable: every handle comes back and private memory returns to where it was.
#include "unit/instance/ModuleFixture.h"

#include <psapi.h>

#include <random>

namespace {

using namespace fixture;

// The sample filters, when their DLLs sit beside the program.
const GUID CLSID_Transpose = {0x9903D2BF, 0x28DE, 0x43E5, {0x9B, 0xA5, 0xE6, 0xF4, 0xDA, 0x66, 0x7F, 0xB7}};
const GUID CLSID_Echo = {0xAE89CF20, 0xA7E9, 0x4496, {0x8E, 0xEE, 0x59, 0xB3, 0x3F, 0xE9, 0x3E, 0x0B}};

size_t privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    // Wine leaves PrivateUsage 0; the pagefile figure is the same committed private memory.
    return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
}

// Calls a sample filter DLL's own registration export; false when the DLL is missing.
bool registerSample(const char* file, bool on) {
    HMODULE dll = LoadLibraryA(besideProgram(file).c_str());
    if (!dll) return false;
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, on ? "DllRegisterServer" : "DllUnregisterServer")));
    HRESULT hr = fn ? fn() : E_FAIL;
    FreeLibrary(dll);
    return hr == S_OK;
}

TEST(Soak, AMillionMixedCallsLeaveNothingBehind) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TestFilterControl control;
    ASSERT_TRUE(control.ok());
    control.Reset();
    clearRegistrations();
    std::vector<GUID> classes = {CLSID_TestFilter1, CLSID_TestFilter2, CLSID_TestFilter3};
    const char* names[] = {"Test Filter 1", "Test Filter 2", "Test Filter 3"};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, control.Register(&classes[i], names[i], TfRegAll));
    const bool samples = registerSample("transpose.dll", true) && registerSample("echo.dll", true);
    if (samples) {
        classes.push_back(CLSID_Transpose);
        classes.push_back(CLSID_Echo);
    }
    control.SetMode(TfTranspose, 3);
    const uint8_t saved[] = {9, 8, 7, 6};
    control.SetSaveBytes(saved, sizeof saved);

    size_t startMemory = 0, warmMemory = 0, endMemory = 0;
    long operations = 0;
    const long total = 1000000, warmUp = 100000;
    int32_t created = 0, copied = 0;
    DWORD startTicks = GetTickCount();
    {
        LoadedModule module;
        ASSERT_TRUE(module.loaded());
        ASSERT_EQ(module.classes().size(), classes.size());
        ReferenceHost* host = new ReferenceHost();
        EventStore& events = host->events();
        events.setJournaling(false);
        startMemory = privateBytes();

        struct Slot {
            IMidiModule* module = nullptr;
            IStatePersistence* state = nullptr;
            int32_t cursor = 0;
        };
        std::vector<Slot> slots;
        for (const GUID& clsid : classes)
            for (int copy = 0; copy < 2; ++copy) {
                Slot s;
                s.module = module.create(clsid);
                ASSERT_NE(s.module, nullptr);
                ASSERT_EQ(S_OK, s.module->initialize(host->context()));
                s.state = query<IStatePersistence>(s.module, hostid::IStatePersistence);
                slots.push_back(s);
            }

        std::mt19937 random(20261208);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
        int failures = 0;
        std::vector<uint8_t> state(64);
        for (operations = 0; operations < total; ++operations) {
            if (operations == warmUp) warmMemory = privateBytes();
            Slot& s = slots[size_t(pick(0, int(slots.size()) - 1))];
            const int what = pick(0, 999);
            HRESULT hr = S_OK;
            if (what < 400) {
                HostEvent e = events.newNote(s.cursor + pick(-100, 2000), pick(0, 15), uint32_t(pick(0, 127)),
                                             uint32_t(pick(1, 127)), uint32_t(pick(1, 480)));
                hr = s.module->onEvent(e);
                events.discard(e);
            } else if (what < 480) {
                HostEvent e = events.newEvent(s.cursor, 0xB0 | pick(0, 15), uint32_t(pick(0, 127)), uint32_t(pick(0, 127)));
                events.markLive(e, pick(0, 1) == 1);
                hr = s.module->onEvent(e);
                events.discard(e);
            } else if (what < 500) {
                HostEvent e = events.newSysex(s.cursor + pick(0, 500), {0xF0, 0x43, uint8_t(pick(0, 127)), 0xF7});
                hr = s.module->onEvent(e);
                events.discard(e);
            } else if (what < 800) {
                const int32_t length = pick(0, 960);
                hr = s.module->process(s.cursor, s.cursor + length, 0);
                s.cursor += length;
            } else if (what < 900) {
                hr = s.module->process(0, 0, 1);
            } else if (what < 930) {
                hr = s.module->stop(s.cursor);
            } else if (what < 950) {
                hr = s.module->reposition(0);
            } else if (what < 970) {
                const int32_t length = pick(1, 1000);
                s.cursor = s.cursor > length ? s.cursor - length : 0;
                hr = s.module->cycleJump(s.cursor, length);
            } else if (what < 980) {
                hr = s.module->start(s.cursor);
            } else if (s.state && what < 990) {
                int32_t size = 0;
                if (s.state->getState(nullptr, &size) == 0 && size <= int32_t(state.size()))
                    s.state->getState(state.data(), &size);
            } else if (s.state) {
                int32_t size = pick(0, 16);
                for (int32_t i = 0; i < size; ++i) state[size_t(i)] = uint8_t(pick(0, 255));
                s.state->setState(state.data(), size);
            }
            failures += hr != S_OK;
            if (operations % 4096 == 0) {
                events.takeOutput();
                control.ClearLog();
            }
        }
        EXPECT_EQ(failures, 0);
        for (Slot& s : slots) {
            if (s.state) s.state->Release();
            EXPECT_EQ(S_OK, s.module->terminate());
            EXPECT_EQ(0u, s.module->Release());
        }
        events.takeOutput();
        control.ClearLog();
        endMemory = privateBytes();

        EXPECT_EQ(events.liveHandles(), 0);
        EXPECT_EQ(events.doubleReleases(), 0);
        EXPECT_EQ(events.staleHandleUses(), 0);
        EXPECT_EQ(events.unknownHandleUses(), 0);
        EXPECT_EQ(events.foreignReleases(), 0);
        EXPECT_TRUE(events.balanced());
        EXPECT_EQ(host->refCount(), 1);
        created = events.createdCount();
        copied = events.copiedCount();
        host->Release();
    }
    const double seconds = (GetTickCount() - startTicks) / 1000.0;
    EXPECT_EQ(control.counts().filtersAlive, 0);
    // Within 2 MiB of the warmed-up figure: a leak of a few bytes per call would be far more.
    const long long growth = (long long)endMemory - (long long)warmMemory;
    EXPECT_LT(growth, 2 << 20);
    std::printf("soak: %ld operations on %zu instances of %zu classes%s in %.1f s; %d created and %d copied "
                "handles all given back; private memory %zu KiB at start, %zu KiB after warm-up, %zu KiB at end\n",
                operations, classes.size() * 2, classes.size(), samples ? " (incl. transpose, echo)" : "", seconds,
                created, copied, startMemory / 1024, warmMemory / 1024, endMemory / 1024);
    if (samples) {
        registerSample("transpose.dll", false);
        registerSample("echo.dll", false);
    }
    for (const GUID& c : {CLSID_TestFilter1, CLSID_TestFilter2, CLSID_TestFilter3}) control.Unregister(&c);
    clearRegistrations();
    CoUninitialize();
}

}  // namespace
