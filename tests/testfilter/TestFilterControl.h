// The scriptable test filter: palisander_testfilter.dll, an outside MFX filter of our own.
// Its control state lives in the DLL and is shared by every object in the process, so a
// test scripts it here while the module creates the filter through CoCreateInstance.
// Tests resolve the control functions with TestFilterControl (below); the DLL builds
// its exports from the same declarations.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interfaces/MfxInterfaces.h"

// Filter classes: all map to the same code; each has its own display name
// ("Test Filter 1" ...). Any {A7F1D0C0-5A1B-4E6C-9D3E-0000000000Fx} is a filter class,
// any ...00Ex a page class, so tests can register variants without a rebuild.
inline const GUID CLSID_TestFilter1 = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF1}};
inline const GUID CLSID_TestFilter2 = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF2}};
inline const GUID CLSID_TestFilter3 = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3}};
// Property pages ("Test Filter Page 1", "Test Filter Page 2").
inline const GUID CLSID_TestFilterPage1 = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE1}};
inline const GUID CLSID_TestFilterPage2 = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE2}};
// A class in the filter range that DllRegisterServer leaves alone (for variants).
inline const GUID CLSID_TestFilterSpare = {0xA7F1D0C0, 0x5A1B, 0x4E6C, {0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF9}};

// Call sites: where results, exceptions, fixed output and actions are scripted, and
// what a log entry records.
enum TfSite : int32_t {
    TfCreate = 0,          // filter IClassFactory::CreateInstance
    TfAttachHost,
    TfDetachHost,
    TfSetEventOutput,
    TfBeginPlayback,
    TfLoopPlayback,
    TfEndPlayback,
    TfFilterEvents,
    TfFilterLiveEvents,
    TfGetPages,
    TfLoad,
    TfSave,
    TfDestroy,             // the filter's final Release
    TfQueryInterface,      // logged only when query logging is on; raises for the optional interfaces
    TfPageCreate,
    TfPageSetPageSite,
    TfPageActivate,
    TfPageDeactivate,
    TfPageGetPageInfo,
    TfPageSetObjects,
    TfPageShow,
    TfPageMove,
    TfPageIsPageDirty,
    TfPageApply,
    TfPageHelp,
    TfPageTranslateAccelerator,
    TfPageDestroy,         // the page's final Release
    TfIsDirty,
    TfGetSizeMax,
    TfGetClassID,
    TfPageKey,             // key messages that reach the page's edit control (logged only)
    TfSiteCount
};

enum TfRaise : int32_t {
    TfRaiseNone = 0,
    TfRaiseAccessViolation = 1,  // a write to address 0x10
    TfRaiseCxxSeh = 2,           // RaiseException(0xE06D7363): another compiler's C++ throw
    TfRaiseDie = 3,              // the process ends at once (exit code 0xC0000409), past any guard
    TfRaiseHang = 4,             // the call never returns
};

// What a filter or page does wrong at a call site besides its result and exception.
enum TfMisbehave : int32_t {
    TfMisNone = 0,
    TfMisOverRelease = 1,  // releases each interface argument once more than it took
    TfMisKeep = 2,         // keeps the first interface argument without a reference; uses it at the next call
    TfMisReenter = 3,      // calls the host back: every host query, timer on and off, a note sent
    TfMisGarbage = 4,      // outputs unknown types, channel 200, invented and stale sysex handles, 10,000 records
    TfMisPageSize = 5,     // page.GetPageInfo: a larger size at every call
    TfMisOverflow = 6,     // unbounded recursion, touching each page, until the stack overflows
};

enum TfMode : int32_t {
    TfPassThrough = 0,  // filterEvents / filterLiveEvents copy input to output
    TfTranspose = 1,    // as pass-through, note keys moved by the amount (clamped to 0-127)
    TfSwallow = 2,      // output only the fixed events
};

enum TfInterfaceFlags : int32_t {
    TfHasOutputConnect = 1,
    TfHasPropertyPages = 2,
    TfHasPersistStream = 4,
    TfHasAll = 7,
};

enum TfSaveMode : int32_t {
    TfSaveBytes = 0,     // Save writes the bytes given by TestFilter_SetSaveBytes (none by default)
    TfSaveSeekBack = 1,  // Save writes 00..09, seeks to offset 2 and writes A0 A1 A2
    TfSaveCounting = 2,  // Save writes "CNT" and how many Saves came before: never the same twice
};

// A script in text, for processes a test cannot reach with the control functions: the
// DLL reads the environment variable TESTFILTER_SCRIPT_VARIABLE when it is first used, and
// TestFilter_RunScript takes the same text. Commands are separated by ';':
//   raise SITE av|cxx|die|hang     result SITE 0x80004005     save counting|seekback
//   mode pass|swallow|transpose N  output SITE HH HH HH (a raw MIDI message at time 0)
//   misbehave SITE overrelease|keep|reenter|garbage|pagesize|overflow
// SITE is a call's name as logged: filterEvents, Load, GetPages, page.Activate ...
#define TESTFILTER_SCRIPT_VARIABLE "PALISANDER_TESTFILTER_SCRIPT"

enum TfAction : int32_t {
    TfActionStartTimer = 1,  // IMfxTimerControl::startTimer on the host context
    TfActionStopTimer = 2,
    TfActionSendEvent = 3,   // IMfxEventOutput::sendEvent(0, record)
    TfActionQueryHost = 4,   // fills TfHostInfo from the host context's answers
};

enum TfRegisterFlags : int32_t {
    TfRegClassKey = 1,  // Software\Classes\CLSID\{clsid}
    TfRegName = 2,      // its default value = name
    TfRegInproc = 4,    // InprocServer32 = this DLL, ThreadingModel "Both"
    TfRegMfxKey = 8,    // Software\Cakewalk Music Software\MIDI Filters\{clsid}
    TfRegAll = 15,
};

#pragma pack(push, 1)
// One logged call. text is the call with its arguments, e.g. "filterEvents(0,479)",
// "page.Activate(0,0,320,240,0)"; records given to the call are read with
// TestFilter_LogEvents / TestFilter_LogShortEvents.
struct TfCall {
    int32_t object;      // serial of the filter or page object, from 1 after reset; 0 for none
    int32_t site;        // TfSite
    GUID clsid;          // class of the object
    int32_t args[6];     // numeric arguments, as in text
    int32_t eventCount;  // MfxEvent records logged with the call
    int32_t shortCount;  // MfxShortEvent records logged with the call
    char text[200];
};
static_assert(sizeof(TfCall) == 256, "TfCall is 256 bytes");
static_assert(offsetof(TfCall, clsid) == 8, "clsid at 8");
static_assert(offsetof(TfCall, args) == 24, "args at 24");
static_assert(offsetof(TfCall, text) == 56, "text at 56");

// Live object counts, so tests can assert that nothing outlives its owner.
struct TfCounts {
    int32_t filtersAlive;
    int32_t pagesAlive;
    int32_t pageWindowsAlive;
    int32_t factoriesAlive;
    int32_t filtersCreated;   // since reset
    int32_t pagesCreated;     // since reset
    int32_t canUnloadCalls;   // DllCanUnloadNow calls since reset
    int32_t hostRefsHeld;     // host context references held by filters
    int32_t siteRefsHeld;     // page site references held by pages
    int32_t objectRefsHeld;   // SetObjects references held by pages
};
static_assert(sizeof(TfCounts) == 40, "TfCounts is 40 bytes");

// What the last TfActionQueryHost saw. Values start as 0xCAFECAFE (untouched).
struct TfHostInfo {
    int32_t queries;        // probes since reset
    int32_t probeTime;      // the time the probe used (TestFilter_SetProbeTime, default 480)
    int32_t qiResult[7];    // QueryInterface: tempo, meter, key, names, timer, output, properties
    int32_t timeBase;
    int32_t tempoCount;
    int32_t tempoIndexAt;   // tempoIndexAt(probeTime)
    int32_t toRealTime;     // toRealTime(probeTime)
    int32_t fromRealTime;   // fromRealTime(probeTime)
    int32_t tempoEntryResult, tempoEntryTime, tempoEntryTempo;            // tempoEntry(-1)
    int32_t timeToMeasureResult, measure, beat, tick;                     // timeToMeasure(probeTime)
    int32_t measureToTime;  // measureToTime(1, 1, 0)
    int32_t meterIndexAt, meterCount;
    int32_t meterEntryResult, meterTime, numerator, denominator;          // meterEntry(0)
    int32_t keyIndexAt, keyCount, keyEntryResult, keyFirst, keySecond;    // keyEntry(0)
    int32_t timerPeriodResult, timerPeriod;
    int32_t propertyResult, position;                                     // getProperty(0, {3,0,pos})
    int32_t nameListResult[3], nameListCount[3];  // number, number2, controller tables
};
static_assert(sizeof(TfHostInfo) == 43 * 4, "TfHostInfo is 43 values");

// What the last Load saw.
struct TfLoadInfo {
    int32_t loads;          // Load calls since reset
    int32_t entryPosition;  // stream position at entry (Seek 0 from current), -1 if Seek failed
    int32_t statResult;
    int32_t statSize;       // Stat's cbSize.LowPart
    int32_t bytesRead;
};
static_assert(sizeof(TfLoadInfo) == 20, "TfLoadInfo is 20 bytes");
#pragma pack(pop)

// The exported control functions (cdecl, undecorated names).
#define TESTFILTER_FUNCTIONS(X)                                                                       \
    X(void, Reset, (void), ())                                                              \
    X(void, SetMode, (int32_t mode, int32_t transpose), (mode, transpose))                  \
    X(int32_t, RunScript, (const char* text), (text))                                       \
    X(void, SetInterfaces, (int32_t flags), (flags))                                        \
    X(void, SetResult, (int32_t site, HRESULT hr), (site, hr))                              \
    X(void, SetRaise, (int32_t site, int32_t kind), (site, kind))                           \
    X(void, SetMisbehave, (int32_t site, int32_t kind), (site, kind))                       \
    X(void, AddOutput, (int32_t site, const MfxEvent* e), (site, e))                        \
    X(void, AddSysexOutput, (int32_t site, int32_t time, const uint8_t* data, int32_t size), \
      (site, time, data, size))                                                                        \
    X(void, AddShortOutput, (const MfxShortEvent* e), (e))                                  \
    X(void, AddAction, (int32_t site, int32_t action, const MfxEvent* e), (site, action, e)) \
    X(HRESULT, StartTimer, (void), ())                                                      \
    X(HRESULT, StopTimer, (void), ())                                                       \
    X(HRESULT, SendEvent, (const MfxEvent* e), (e))                                         \
    X(HRESULT, QueryHost, (void), ())                                                       \
    X(void, SetProbeTime, (int32_t time), (time))                                           \
    X(void, GetHostInfo, (TfHostInfo* out), (out))                                          \
    X(void, SetPageSize, (int32_t width, int32_t height), (width, height))                  \
    X(void, SetPageList, (const GUID* clsids, int32_t count), (clsids, count))              \
    X(HWND, PageWindow, (void), ())                                                         \
    X(HWND, PageEdit, (void), ())                                                           \
    X(void, SetSaveMode, (int32_t mode), (mode))                                            \
    X(void, SetSaveBytes, (const uint8_t* data, int32_t size), (data, size))                \
    X(int32_t, LoadedBytes, (uint8_t* out, int32_t capacity), (out, capacity))              \
    X(void, GetLoadInfo, (TfLoadInfo* out), (out))                                          \
    X(void, SetLogQueries, (int32_t on), (on))                                              \
    X(int32_t, LogCount, (void), ())                                                        \
    X(int32_t, LogEntry, (int32_t index, TfCall* out), (index, out))                        \
    X(int32_t, LogEvents, (int32_t index, MfxEvent* out, int32_t capacity), (index, out, capacity)) \
    X(int32_t, LogShortEvents, (int32_t index, MfxShortEvent* out, int32_t capacity),      \
      (index, out, capacity))                                                                          \
    X(void, ClearLog, (void), ())                                                           \
    X(void, GetCounts, (TfCounts* out), (out))                                              \
    X(HRESULT, Register, (const GUID* clsid, const char* name, int32_t flags), (clsid, name, flags)) \
    X(HRESULT, Unregister, (const GUID* clsid), (clsid))

#ifdef TESTFILTER_BUILDING_DLL
#define TESTFILTER_DECLARE(ret, name, params, args) extern "C" ret __cdecl TestFilter_##name params;
TESTFILTER_FUNCTIONS(TESTFILTER_DECLARE)
#undef TESTFILTER_DECLARE
#else

// Loads the DLL (by default the one beside the running program) and resolves every
// control function; ok() is false when the DLL or a function is missing. The DLL stays
// loaded as long as this object lives, whatever COM unloads.
class TestFilterControl {
public:
    explicit TestFilterControl(const std::string& path = defaultPath()) : path_(path) {
        module_ = LoadLibraryA(path.c_str());
        ok_ = module_ != nullptr;
#define TESTFILTER_RESOLVE(ret, name, params, args)                                          \
    name##_ = module_ ? reinterpret_cast<ret(__cdecl*) params>(                               \
                            reinterpret_cast<void*>(GetProcAddress(module_, "TestFilter_" #name)))          \
                      : nullptr;                                                              \
    ok_ = ok_ && name##_ != nullptr;
        TESTFILTER_FUNCTIONS(TESTFILTER_RESOLVE)
#undef TESTFILTER_RESOLVE
    }
    ~TestFilterControl() {
        if (module_) FreeLibrary(module_);
    }
    TestFilterControl(const TestFilterControl&) = delete;
    TestFilterControl& operator=(const TestFilterControl&) = delete;

    static std::string defaultPath() {
        char buffer[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, buffer, MAX_PATH);
        std::string p(buffer);
        size_t slash = p.find_last_of("\\/");
        return (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) +
               "palisander_testfilter.dll";
    }
    bool ok() const { return ok_; }
    HMODULE module() const { return module_; }
    const std::string& path() const { return path_; }

    // One member per control function, its name without the prefix: ctl.SetMode(...).
#define TESTFILTER_MEMBER(ret, name, params, args) \
    ret name params { return name##_ args; }
    TESTFILTER_FUNCTIONS(TESTFILTER_MEMBER)
#undef TESTFILTER_MEMBER

    void reset() { Reset(); }
    // The texts of the log, in order: easy to compare as a whole sequence.
    std::vector<std::string> log() {
        std::vector<std::string> lines;
        int32_t n = LogCount();
        for (int32_t i = 0; i < n; ++i) lines.push_back(entry(i).text);
        return lines;
    }
    // The texts of the log whose site is one of the given ones.
    std::vector<std::string> log(std::initializer_list<int32_t> sites) {
        std::vector<std::string> lines;
        int32_t n = LogCount();
        for (int32_t i = 0; i < n; ++i) {
            TfCall c = entry(i);
            for (int32_t s : sites)
                if (c.site == s) lines.push_back(c.text);
        }
        return lines;
    }
    TfCall entry(int32_t index) {
        TfCall c{};
        LogEntry(index, &c);
        return c;
    }
    std::vector<MfxEvent> events(int32_t index) {
        std::vector<MfxEvent> v(static_cast<size_t>(entry(index).eventCount));
        if (!v.empty()) LogEvents(index, v.data(), static_cast<int32_t>(v.size()));
        return v;
    }
    std::vector<MfxShortEvent> shortEvents(int32_t index) {
        std::vector<MfxShortEvent> v(static_cast<size_t>(entry(index).shortCount));
        if (!v.empty()) LogShortEvents(index, v.data(), static_cast<int32_t>(v.size()));
        return v;
    }
    TfCounts counts() {
        TfCounts c{};
        GetCounts(&c);
        return c;
    }
    TfHostInfo hostInfo() {
        TfHostInfo h{};
        GetHostInfo(&h);
        return h;
    }
    TfLoadInfo loadInfo() {
        TfLoadInfo l{};
        GetLoadInfo(&l);
        return l;
    }
    std::vector<uint8_t> loadedBytes() {
        std::vector<uint8_t> v(static_cast<size_t>(LoadedBytes(nullptr, 0)));
        if (!v.empty()) LoadedBytes(v.data(), static_cast<int32_t>(v.size()));
        return v;
    }
    // DllRegisterServer / DllUnregisterServer of the DLL.
    HRESULT registerServer() { return callExport("DllRegisterServer"); }
    HRESULT unregisterServer() { return callExport("DllUnregisterServer"); }

private:
    HRESULT callExport(const char* name) {
        auto fn = module_ ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                reinterpret_cast<void*>(GetProcAddress(module_, name)))
                          : nullptr;
        return fn ? fn() : E_FAIL;
    }
    std::string path_;
    HMODULE module_ = nullptr;
    bool ok_ = false;
#define TESTFILTER_POINTER(ret, name, params, args) ret(__cdecl* name##_) params = nullptr;
    TESTFILTER_FUNCTIONS(TESTFILTER_POINTER)
#undef TESTFILTER_POINTER
};

#endif
