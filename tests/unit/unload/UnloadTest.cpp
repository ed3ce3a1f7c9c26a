// Hosts and scanners load a module, read it and unload it over and over: the module
// and the sample filters survive that thousands of times in one process with no TLS
// slot and next to no memory lost. (The test filter stays loaded for its control
// functions, so it is never really unloaded here.)
#include "unit/instance/ModuleFixture.h"

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
    ASSERT_TRUE(control.ok());
    control.Reset();
    clearRegistrations();
    // The module loads only with a filter to offer; its verdict cached, so no probe per load.
    ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilter1, "Test Filter 1", TfRegAll));
    setText(kVerified, clsidText(CLSID_TestFilter1).c_str(), "1");

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

    control.Unregister(&CLSID_TestFilter1);
    clearRegistrations();
    CoUninitialize();
}

}  // namespace
