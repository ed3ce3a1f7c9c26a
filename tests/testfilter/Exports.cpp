// The DLL's exports: the COM server entry points and the control functions.
#include <algorithm>
#include <cstring>
#include <new>

#include "ClassFactory.h"
#include "ControlState.h"
#include "Registration.h"
#include "TestFilter.h"
#include "TestPropertyPage.h"
#include "interfaces/RuntimeRelease.h"

using namespace testfilter;

namespace {
bool validSite(int32_t site) { return site >= 0 && site < TfSiteCount; }
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        setModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        TestPropertyPage::unregisterWindowClass();
        releaseRuntimeAtUnload(reason, reserved);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!isFilterClass(clsid) && !isPageClass(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory(clsid);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    ControlState& s = state();
    ++s.canUnloadCalls;
    bool busy = s.filtersAlive || s.pagesAlive || s.pageWindowsAlive || s.factoriesAlive || s.serverLocks;
    return busy ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    for (const FixedClass& c : fixedClasses)
        if (FAILED(registerClass(*c.clsid, displayName(*c.clsid).c_str(), c.flags))) return SELFREG_E_CLASS;
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    HRESULT result = S_OK;
    for (const FixedClass& c : fixedClasses)
        if (FAILED(unregisterClass(*c.clsid))) result = SELFREG_E_CLASS;
    return result;
}

extern "C" {

void __cdecl TestFilter_Reset(void) { state().reset(); }

void __cdecl TestFilter_SetMode(int32_t mode, int32_t transpose) {
    state().mode = mode;
    state().transpose = transpose;
}

int32_t __cdecl TestFilter_RunScript(const char* text) { return runScript(text); }

void __cdecl TestFilter_SetInterfaces(int32_t flags) { state().interfaces = flags; }

void __cdecl TestFilter_SetResult(int32_t site, HRESULT hr) {
    if (validSite(site)) state().results[site] = hr;
}

void __cdecl TestFilter_SetRaise(int32_t site, int32_t kind) {
    if (validSite(site)) state().raises[site] = kind;
}

void __cdecl TestFilter_SetMisbehave(int32_t site, int32_t kind) {
    if (validSite(site)) state().misbehaviours[site] = kind;
}

void __cdecl TestFilter_AddOutput(int32_t site, const MfxEvent* e) {
    if (validSite(site) && e) state().outputs[site].push_back(*e);
}

void __cdecl TestFilter_AddSysexOutput(int32_t site, int32_t time, const uint8_t* data, int32_t size) {
    if (!validSite(site) || size < 0 || (size && !data)) return;
    state().sysexOutputs[site].push_back({time, std::vector<uint8_t>(data, data + size)});
}

void __cdecl TestFilter_AddShortOutput(const MfxShortEvent* e) {
    if (e) state().shortOutputs.push_back(*e);
}

void __cdecl TestFilter_AddAction(int32_t site, int32_t action, const MfxEvent* e) {
    if (!validSite(site)) return;
    ScriptedAction a{action, {}};
    if (e) a.event = *e;
    state().actions[site].push_back(a);
}

HRESULT __cdecl TestFilter_StartTimer(void) {
    TestFilter* f = TestFilter::current();
    return f ? f->startTimer() : E_UNEXPECTED;
}

HRESULT __cdecl TestFilter_StopTimer(void) {
    TestFilter* f = TestFilter::current();
    return f ? f->stopTimer() : E_UNEXPECTED;
}

HRESULT __cdecl TestFilter_SendEvent(const MfxEvent* e) {
    if (!e) return E_POINTER;
    TestFilter* f = TestFilter::current();
    return f ? f->sendEvent(e) : E_UNEXPECTED;
}

HRESULT __cdecl TestFilter_QueryHost(void) {
    TestFilter* f = TestFilter::current();
    return f ? f->queryHost() : E_UNEXPECTED;
}

void __cdecl TestFilter_SetProbeTime(int32_t time) { state().probeTime = time; }

void __cdecl TestFilter_GetHostInfo(TfHostInfo* out) {
    if (out) *out = state().hostInfo;
}

void __cdecl TestFilter_SetPageSize(int32_t width, int32_t height) {
    state().pageWidth = width;
    state().pageHeight = height;
}

void __cdecl TestFilter_SetPageList(const GUID* clsids, int32_t count) {
    if (count < 0 || (count && !clsids)) return;
    state().pageList.assign(clsids, clsids + count);
}

HWND __cdecl TestFilter_PageWindow(void) { return TestPropertyPage::lastWindow(); }
HWND __cdecl TestFilter_PageEdit(void) { return TestPropertyPage::lastEdit(); }

void __cdecl TestFilter_SetSaveMode(int32_t mode) { state().saveMode = mode; }

void __cdecl TestFilter_SetSaveBytes(const uint8_t* data, int32_t size) {
    if (size < 0 || (size && !data)) return;
    state().saveBytes.assign(data, data + size);
}

int32_t __cdecl TestFilter_LoadedBytes(uint8_t* out, int32_t capacity) {
    const std::vector<uint8_t>& bytes = state().loadedBytes;
    if (out && capacity > 0) std::memcpy(out, bytes.data(), std::min<size_t>(bytes.size(), capacity));
    return static_cast<int32_t>(bytes.size());
}

void __cdecl TestFilter_GetLoadInfo(TfLoadInfo* out) {
    if (out) *out = state().loadInfo;
}

void __cdecl TestFilter_SetLogQueries(int32_t on) { state().logQueries = on != 0; }

int32_t __cdecl TestFilter_LogCount(void) { return static_cast<int32_t>(state().log.size()); }

int32_t __cdecl TestFilter_LogEntry(int32_t index, TfCall* out) {
    if (!out || index < 0 || index >= TestFilter_LogCount()) return 1;
    *out = state().log[index].call;
    return 0;
}

int32_t __cdecl TestFilter_LogEvents(int32_t index, MfxEvent* out, int32_t capacity) {
    if (index < 0 || index >= TestFilter_LogCount()) return 0;
    const std::vector<MfxEvent>& v = state().log[index].events;
    if (out && capacity > 0) std::copy_n(v.begin(), std::min<size_t>(v.size(), capacity), out);
    return static_cast<int32_t>(v.size());
}

int32_t __cdecl TestFilter_LogShortEvents(int32_t index, MfxShortEvent* out, int32_t capacity) {
    if (index < 0 || index >= TestFilter_LogCount()) return 0;
    const std::vector<MfxShortEvent>& v = state().log[index].shortEvents;
    if (out && capacity > 0) std::copy_n(v.begin(), std::min<size_t>(v.size(), capacity), out);
    return static_cast<int32_t>(v.size());
}

void __cdecl TestFilter_ClearLog(void) { state().log.clear(); }

void __cdecl TestFilter_GetCounts(TfCounts* out) {
    if (!out) return;
    const ControlState& s = state();
    out->filtersAlive = s.filtersAlive;
    out->pagesAlive = s.pagesAlive;
    out->pageWindowsAlive = s.pageWindowsAlive;
    out->factoriesAlive = s.factoriesAlive;
    out->filtersCreated = s.filtersCreated;
    out->pagesCreated = s.pagesCreated;
    out->canUnloadCalls = s.canUnloadCalls;
    out->hostRefsHeld = s.hostRefsHeld;
    out->siteRefsHeld = s.siteRefsHeld;
    out->objectRefsHeld = s.objectRefsHeld;
}

HRESULT __cdecl TestFilter_Register(const GUID* clsid, const char* name, int32_t flags) {
    if (!clsid) return E_POINTER;
    std::vector<GUID>& extra = state().extraFilters;
    if (!isFilterClass(*clsid) && !isPageClass(*clsid)) extra.push_back(*clsid);
    return registerClass(*clsid, name, flags);
}

HRESULT __cdecl TestFilter_Unregister(const GUID* clsid) {
    if (!clsid) return E_POINTER;
    return unregisterClass(*clsid);
}

}  // extern "C"
