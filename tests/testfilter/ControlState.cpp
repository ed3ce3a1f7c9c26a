#include "ControlState.h"
#include "Emulation.h"
#include "interfaces/ComExtras.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace testfilter {
namespace {

HINSTANCE instance = nullptr;

// Log appends may come from any thread the caller uses.
struct LogLock {
    CRITICAL_SECTION section;
    LogLock() { InitializeCriticalSection(&section); }
    ~LogLock() { DeleteCriticalSection(&section); }
};
LogLock logLock;

class Locked {
public:
    Locked() { EnterCriticalSection(&logLock.section); }
    ~Locked() { LeaveCriticalSection(&logLock.section); }
};

const uint8_t classPrefix[15] = {0xC0, 0xD0, 0xF1, 0xA7, 0x1B, 0x5A, 0x6C, 0x4E,
                                 0x9D, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00};

int classByte(const GUID& clsid) {
    if (std::memcmp(&clsid, classPrefix, sizeof classPrefix) != 0) return -1;
    return reinterpret_cast<const uint8_t*>(&clsid)[15];
}

}  // namespace

void ControlState::reset() {
    mode = TfPassThrough;
    transpose = 0;
    interfaces = TfHasAll;
    for (int i = 0; i < TfSiteCount; ++i) {
        results[i] = S_OK;
        raises[i] = TfRaiseNone;
        misbehaviours[i] = TfMisNone;
        outputs[i].clear();
        sysexOutputs[i].clear();
        actions[i].clear();
    }
    shortOutputs.clear();
    kept = nullptr;
    lastInputBlock = 0;
    pageWidth = 320;
    pageHeight = 240;
    pageList.assign(1, CLSID_TestFilterPage1);
    saveMode = TfSaveBytes;
    saveBytes.clear();
    saves = 0;
    logQueries = false;
    probeTime = 480;
    {
        Locked lock;
        log.clear();
    }
    fillUntouched(hostInfo);
    hostInfo.queries = 0;
    hostInfo.probeTime = probeTime;
    std::memset(&loadInfo, 0, sizeof loadInfo);
    loadedBytes.clear();
    filterSerial = 0;
    pageSerial = 0;
    filtersCreated = 0;
    pagesCreated = 0;
    canUnloadCalls = 0;
}

ControlState& state() {
    static ControlState* s = [] {
        ControlState* c = new ControlState;
        c->reset();
        return c;
    }();
    static bool scripted = false;
    if (!scripted) {
        // Set first: the script itself goes through state().
        scripted = true;
        char text[1024] = {};
        DWORD n = GetEnvironmentVariableA(TESTFILTER_SCRIPT_VARIABLE, text, sizeof text);
        if (n > 0 && n < sizeof text) runScript(text);
    }
    return *s;
}

namespace {

// Site names as the log writes them.
const char* const siteNames[TfSiteCount] = {
    "create", "attachHost", "detachHost", "setEventOutput", "beginPlayback", "loopPlayback", "endPlayback",
    "filterEvents", "filterLiveEvents", "GetPages", "Load", "Save", "destroy", "QueryInterface", "page.create",
    "page.SetPageSite", "page.Activate", "page.Deactivate", "page.GetPageInfo", "page.SetObjects", "page.Show",
    "page.Move", "page.IsPageDirty", "page.Apply", "page.Help", "page.TranslateAccelerator", "page.destroy",
    "IsDirty", "GetSizeMax", "GetClassID", "page.key"};

int32_t siteNamed(const std::string& name) {
    for (int32_t i = 0; i < TfSiteCount; ++i)
        if (name == siteNames[i]) return i;
    return -1;
}

bool number(const std::string& text, int base, long long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtoll(text.c_str(), &end, base);
    return *end == 0;
}

// One command of a script; false when it is not understood.
bool runCommand(const std::vector<std::string>& w) {
    ControlState& s = state();
    long long v = 0;
    int32_t site = w.size() > 1 ? siteNamed(w[1]) : -1;
    if (w[0] == "raise" && w.size() == 3 && site >= 0) {
        const char* kinds[] = {"none", "av", "cxx", "die", "hang"};
        for (int32_t k = 0; k < 5; ++k)
            if (w[2] == kinds[k]) {
                s.raises[site] = k;
                return true;
            }
        return false;
    }
    if (w[0] == "misbehave" && w.size() == 3 && site >= 0) {
        const char* kinds[] = {"none", "overrelease", "keep", "reenter", "garbage", "pagesize", "overflow"};
        for (int32_t k = 0; k < 7; ++k)
            if (w[2] == kinds[k]) {
                s.misbehaviours[site] = k;
                return true;
            }
        return false;
    }
    if (w[0] == "result" && w.size() == 3 && site >= 0 && number(w[2], 0, v)) {
        s.results[site] = HRESULT(uint32_t(v));
        return true;
    }
    if (w[0] == "save" && w.size() == 2 && (w[1] == "counting" || w[1] == "seekback")) {
        s.saveMode = w[1] == "counting" ? TfSaveCounting : TfSaveSeekBack;
        return true;
    }
    if (w[0] == "mode" && w.size() >= 2) {
        if (w[1] == "pass" || w[1] == "swallow") {
            s.mode = w[1] == "pass" ? TfPassThrough : TfSwallow;
            return w.size() == 2;
        }
        if (w[1] == "transpose" && w.size() == 3 && number(w[2], 10, v)) {
            s.mode = TfTranspose;
            s.transpose = int32_t(v);
            return true;
        }
        return false;
    }
    if (w[0] == "output" && w.size() >= 3 && w.size() <= 5 && site >= 0) {
        MfxEvent e{};
        e.type = MfxShortMessage;
        for (size_t i = 2; i < w.size(); ++i) {
            if (!number(w[i], 16, v) || v < 0 || v > 255) return false;
            mfxdata::byteAt(e, int(8 + i)) = uint8_t(v);
        }
        s.outputs[site].push_back(e);
        return true;
    }
    return false;
}

}  // namespace

int32_t runScript(const char* text) {
    if (!text) return 0;
    std::stringstream commands(text);
    std::string command;
    for (int32_t n = 1; std::getline(commands, command, ';'); ++n) {
        std::stringstream words(command);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (!w.empty() && !runCommand(w)) return n;
    }
    return 0;
}

void fillUntouched(TfHostInfo& info) {
    int32_t* values = reinterpret_cast<int32_t*>(&info);
    for (size_t i = 0; i < sizeof info / sizeof(int32_t); ++i) values[i] = static_cast<int32_t>(0xCAFECAFE);
}

HINSTANCE moduleInstance() { return instance; }
void setModuleInstance(HINSTANCE i) { instance = i; }

size_t logCall(int32_t object, int32_t site, const GUID& clsid, const std::string& text,
               std::initializer_list<int32_t> args) {
    LoggedCall entry{};
    entry.call.object = object;
    entry.call.site = site;
    entry.call.clsid = clsid;
    int i = 0;
    for (int32_t a : args) {
        if (i == 6) break;
        entry.call.args[i++] = a;
    }
    std::snprintf(entry.call.text, sizeof entry.call.text, "%s", text.c_str());
    Locked lock;
    state().log.push_back(std::move(entry));
    return state().log.size() - 1;
}

void logEvents(size_t index, std::vector<MfxEvent> events) {
    Locked lock;
    LoggedCall& c = state().log.at(index);
    c.call.eventCount = static_cast<int32_t>(events.size());
    c.events = std::move(events);
}

void logShortEvents(size_t index, std::vector<MfxShortEvent> events) {
    Locked lock;
    LoggedCall& c = state().log.at(index);
    c.call.shortCount = static_cast<int32_t>(events.size());
    c.shortEvents = std::move(events);
}

void raiseIfScripted(int32_t site) {
    if (site < 0 || site >= TfSiteCount) return;
    switch (state().raises[site]) {
    case TfRaiseAccessViolation:
        emulation::accessViolation();
        break;
    case TfRaiseCxxSeh:
        RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        break;
    case TfRaiseDie:
        // As a corrupted heap or a failed runtime check ends a process: no handler runs.
        TerminateProcess(GetCurrentProcess(), 0xC0000409);
        break;
    case TfRaiseHang:
        for (;;) Sleep(1000);
    default:
        break;
    }
}

int32_t misbehaviour(int32_t site) {
    return site >= 0 && site < TfSiteCount ? state().misbehaviours[site] : TfMisNone;
}

namespace {
// Each frame takes a page of stack and touches it, so the guard page is hit, not skipped;
// the use of the result after the call keeps the compiler from making it a loop.
volatile bool deeper = true;  // always; the compiler can't know it

__attribute__((noinline)) int32_t overflowStack(volatile uint8_t* previous) {
    if (!deeper) return 0;
    volatile uint8_t page[4096];
    page[0] = previous ? uint8_t(previous[0] + 1) : 1;
    page[sizeof page - 1] = page[0];
    return overflowStack(page) + page[sizeof page - 1];
}
}  // namespace

void misbehaveWith(int32_t site, std::initializer_list<IUnknown*> args) {
    ControlState& s = state();
    if (IUnknown* kept = s.kept) {
        s.kept = nullptr;
        IUnknown* used = nullptr;
        if (kept->QueryInterface(comid::IUnknown, reinterpret_cast<void**>(&used)) == S_OK && used) used->Release();
    }
    switch (misbehaviour(site)) {
    case TfMisOverRelease:
        for (IUnknown* a : args)
            if (a) a->Release();
        break;
    case TfMisKeep:
        s.kept = args.size() ? *args.begin() : nullptr;
        break;
    case TfMisOverflow:
        overflowStack(nullptr);
        break;
    default:
        break;
    }
}

HRESULT scriptedResult(int32_t site) { return site >= 0 && site < TfSiteCount ? state().results[site] : S_OK; }

std::string format(const char* pattern, ...) {
    char buffer[200];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

std::string guidText(const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

bool isFilterClass(const GUID& clsid) {
    int b = classByte(clsid);
    if (b >= 0) return (b & 0xF0) == 0xF0;
    for (const GUID& g : state().extraFilters)
        if (IsEqualGUID(g, clsid)) return true;
    return false;
}
bool isPageClass(const GUID& clsid) {
    int b = classByte(clsid);
    return b >= 0 && (b & 0xF0) == 0xE0;
}

std::string displayName(const GUID& clsid) {
    int b = classByte(clsid);
    if (b >= 0 && isFilterClass(clsid)) return "Test Filter " + std::to_string(b & 0x0F);
    if (isPageClass(clsid)) return "Test Filter Page " + std::to_string(b & 0x0F);
    return "Test Filter";
}

}  // namespace testfilter
