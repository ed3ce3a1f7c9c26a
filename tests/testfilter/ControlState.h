// The test filter's script and call log, one per process, shared by every object.
#pragma once

#define TESTFILTER_BUILDING_DLL
#include "TestFilterControl.h"

#include <string>
#include <vector>

namespace testfilter {

struct ScriptedAction {
    int32_t action;
    MfxEvent event;
};

struct LoggedCall {
    TfCall call;
    std::vector<MfxEvent> events;
    std::vector<MfxShortEvent> shortEvents;
};

struct ControlState {
    // Script.
    int32_t mode = TfPassThrough;
    int32_t transpose = 0;
    int32_t interfaces = TfHasAll;
    HRESULT results[TfSiteCount] = {};
    int32_t raises[TfSiteCount] = {};
    int32_t misbehaviours[TfSiteCount] = {};
    std::vector<MfxEvent> outputs[TfSiteCount];
    struct Sysex {
        int32_t time;
        std::vector<uint8_t> data;
    };
    std::vector<Sysex> sysexOutputs[TfSiteCount];
    std::vector<MfxShortEvent> shortOutputs;
    std::vector<ScriptedAction> actions[TfSiteCount];
    int32_t pageWidth = 320;
    int32_t pageHeight = 240;
    std::vector<GUID> pageList;
    int32_t saveMode = TfSaveBytes;
    std::vector<uint8_t> saveBytes;
    int32_t saves = 0;  // Save calls, for TfSaveCounting
    bool logQueries = false;
    int32_t probeTime = 480;

    // What a TfMisKeep call kept (no reference), used at the next call; the last sysex
    // block a filterEvents input carried (freed since), for TfMisGarbage.
    IUnknown* kept = nullptr;
    SysexHandle lastInputBlock = 0;

    // Observations.
    std::vector<LoggedCall> log;
    TfHostInfo hostInfo{};
    TfLoadInfo loadInfo{};
    std::vector<uint8_t> loadedBytes;
    int32_t filterSerial = 0;
    int32_t pageSerial = 0;

    // Live counts; never reset, they follow the objects.
    volatile LONG filtersAlive = 0;
    volatile LONG pagesAlive = 0;
    volatile LONG pageWindowsAlive = 0;
    volatile LONG factoriesAlive = 0;
    volatile LONG serverLocks = 0;
    volatile LONG hostRefsHeld = 0;
    volatile LONG siteRefsHeld = 0;
    volatile LONG objectRefsHeld = 0;
    int32_t filtersCreated = 0;
    int32_t pagesCreated = 0;
    int32_t canUnloadCalls = 0;
    // Classes outside the fixed range given to TestFilter_Register; kept across resets.
    std::vector<GUID> extraFilters;

    void reset();
};

ControlState& state();
// Every value 0xCAFECAFE, so a test sees what a probe left untouched.
void fillUntouched(TfHostInfo& info);
HINSTANCE moduleInstance();
void setModuleInstance(HINSTANCE instance);

// Appends a call to the log and returns its index.
size_t logCall(int32_t object, int32_t site, const GUID& clsid, const std::string& text,
               std::initializer_list<int32_t> args = {});
void logEvents(size_t index, std::vector<MfxEvent> events);
void logShortEvents(size_t index, std::vector<MfxShortEvent> events);

// Applies a script (TestFilterControl.h); 0 when every command was understood, else the
// number (from 1) of the first that was not, which and what follows are not applied.
int32_t runScript(const char* text);

// Raises the scripted exception of a site, if any. Callers hold nothing that needs
// destroying when they call it: an SEH unwind does not run our destructors.
void raiseIfScripted(int32_t site);
// The scripted misbehaviour of a site (TfMisNone by default).
int32_t misbehaviour(int32_t site);
// Uses what an earlier call kept, then over-releases or keeps this call's interface
// arguments as scripted. Callers hold nothing that needs destroying (see raiseIfScripted).
void misbehaveWith(int32_t site, std::initializer_list<IUnknown*> args);
// The scripted result of a site (S_OK by default).
HRESULT scriptedResult(int32_t site);

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string guidText(const GUID& g);
bool isFilterClass(const GUID& clsid);
bool isPageClass(const GUID& clsid);
// "Test Filter N" / "Test Filter Page N" for the fixed range.
std::string displayName(const GUID& clsid);

}  // namespace testfilter
