// Hosts and scanners load a module, read it and unload it over and over: the module
// and the sample filters survive that thousands of times in one process with no TLS
// slot and next to no memory lost. (The test filter stays loaded for its control
// functions, so it is never really unloaded here.) A host that tears an instance down
// on another thread than the one its timer runs on still gets a module that stops
// ticking and unloads.
#include "unit/instance/ModuleFixture.h"

#include "WinSync.h"

#include <cstdio>
#include <functional>

namespace {

using namespace fixture;

const int kCycles = 5000;
const long long kMaxGrowth = 256 << 10;

const GUID CLSID_Transpose = {0x9903D2BF, 0x28DE, 0x43E5, {0x9B, 0xA5, 0xE6, 0xF4, 0xDA, 0x66, 0x7F, 0xB7}};
const GUID CLSID_Echo = {0xAE89CF20, 0xA7E9, 0x4496, {0x8E, 0xEE, 0x59, 0xB3, 0x3F, 0xE9, 0x3E, 0x0B}};
const GUID IID_IClassFactoryLocal = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The process's own committed private memory, summed from its address space. The
// system's counters would also count whatever runs the process (an emulator's code
// cache grows with every fresh load of the same code).
long long committedBytes() {
    long long total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (char* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += (long long)mbi.RegionSize;
        char* next = static_cast<char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return total;
}

bool tlsSlotLeft() {
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return false;
    TlsFree(slot);
    return true;
}

// One load, use and unload; false when any step failed.
typedef std::function<bool(HMODULE)> UseFn;

bool useModule(HMODULE dll) {
    typedef IModuleFactory*(__cdecl * GetFactory)();
    auto get = reinterpret_cast<GetFactory>(reinterpret_cast<void*>(GetProcAddress(dll, "GetPluginFactory")));
    IModuleFactory* factory = get ? get() : nullptr;
    if (!factory) return false;
    const bool ok = factory->classCount() >= 1;
    factory->Release();
    return ok;
}

UseFn useServer(const GUID& clsid) {
    return [clsid](HMODULE dll) {
        typedef HRESULT(STDAPICALLTYPE * GetClassObject)(REFCLSID, REFIID, void**);
        typedef HRESULT(STDAPICALLTYPE * CanUnload)();
        auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
        auto can = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
        if (!get || !can) return false;
        IUnknown* factory = nullptr;
        if (get(clsid, IID_IClassFactoryLocal, reinterpret_cast<void**>(&factory)) != S_OK || !factory) return false;
        factory->Release();
        return can() == S_OK;
    };
}

// Returns the number of cycles that worked; growth is measured from after the
// first few cycles, which warm up Wine's own loader caches.
int cycle(const char* file, const UseFn& use, long long* growth) {
    const std::string path = besideProgram(file);
    const int warmUp = 20;
    long long start = 0;
    int worked = 0;
    for (int i = 0; i < kCycles; ++i) {
        if (i == warmUp) start = committedBytes();
        // Progress, so that a process that dies part way shows how far it came.
        if (i > warmUp && i % 1000 == 0) {
            std::printf("unload: %s %d cycles, committed memory %+lld KiB\n", file, i, (committedBytes() - start) / 1024);
            std::fflush(stdout);
        }
        HMODULE dll = LoadLibraryA(path.c_str());
        if (!dll) break;
        if (use(dll)) ++worked;
        FreeLibrary(dll);
    }
    *growth = committedBytes() - start;
    return worked;
}

TEST(Unload, EveryShippedDllLoadsAndUnloadsThousandsOfTimes) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TestFilterControl control;
    // The module loads only with a filter to offer; its verdict cached, so no probe per load.
    ASSERT_TRUE(startWithVerifiedFilter(control));

    struct Row {
        const char* file;
        UseFn use;
    } rows[] = {
        {"palisander.dll", useModule},
        {"transpose.dll", useServer(CLSID_Transpose)},
        {"echo.dll", useServer(CLSID_Echo)},
    };
    for (const Row& r : rows) {
        long long growth = 0;
        const int worked = cycle(r.file, r.use, &growth);
        std::printf("unload: %s %d of %d cycles, committed memory %+lld KiB\n", r.file, worked, kCycles, growth / 1024);
        EXPECT_EQ(kCycles, worked) << r.file;
        EXPECT_LT(growth, kMaxGrowth) << r.file;
        EXPECT_TRUE(tlsSlotLeft()) << r.file;
    }

    endWithVerifiedFilter(control);
    CoUninitialize();
}

// Dispatches this thread's messages for ms milliseconds; counts timer messages, and
// once the module is gone counts without dispatching, so a stray tick fails the test
// instead of jumping into freed code.
int pumpTimerMessages(DWORD ms) {
    int seen = 0;
    const DWORD until = GetTickCount() + ms;
    while (int32_t(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER) ++seen;
            if (msg.message != WM_TIMER || GetModuleHandleA("palisander.dll")) DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return seen;
}

// Created and initialised here (the timer's thread), processed on a second thread,
// terminated and released on a third or here; then the host unloads the module and
// keeps dispatching here.
TEST(Unload, TimerStopsOnItsOwnThreadAndTheModuleUnloadsWhateverThreadLetGo) {
    for (bool elsewhere : {true, false}) {
        SCOPED_TRACE(elsewhere ? "terminated on a third thread" : "terminated on the timer's thread");
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        TestFilterControl control;
        ASSERT_TRUE(startWithVerifiedFilter(control));
        ASSERT_EQ(GetModuleHandleA("palisander.dll"), nullptr);

        auto* module = new LoadedModule();
        ASSERT_TRUE(module->loaded());
        ReferenceHost* host = new ReferenceHost();
        IMidiModule* instance = module->create(CLSID_TestFilter1);
        ASSERT_NE(instance, nullptr);
        ASSERT_EQ(S_OK, instance->initialize(host->context()));
        EXPECT_GE(pumpTimerMessages(200), 2) << "the timer runs on the thread that initialised";

        Thread([&] {
            HostEvent note = host->events().newNote(0, 0, 60, 100, 10);
            instance->onEvent(note);
            host->events().discard(note);
            instance->process(0, 480, 0);
        }).join();
        EXPECT_EQ(host->events().output().size(), 1u);
        const std::function<void()> letGo = [&] {
            instance->terminate();
            instance->Release();
        };
        if (elsewhere)
            Thread(letGo).join();
        else
            letGo();
        delete module;  // the host's FreeLibrary

        int ticks = 0;
        for (int waited = 0; GetModuleHandleA("palisander.dll") && waited < 100; ++waited)
            ticks += pumpTimerMessages(50);
        EXPECT_EQ(GetModuleHandleA("palisander.dll"), nullptr) << "the module unloads";
        EXPECT_LE(ticks, 1) << "at most the tick that stops the timer";
        EXPECT_EQ(pumpTimerMessages(250), 0) << "no tick after the module is gone";
        EXPECT_EQ(host->events().liveHandles(), 0);

        host->Release();
        endWithVerifiedFilter(control);
        CoUninitialize();
    }
}

}  // namespace
