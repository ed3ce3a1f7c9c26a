// The entry point and the four COM exports of a sample filter DLL that serves one
// filter class and its property page.
#pragma once

#include <windows.h>

#include "common/ClassFactory.h"
#include "common/ParameterPage.h"
#include "common/Registration.h"
#include "common/ServerModule.h"
#include "interfaces/RuntimeRelease.h"

#define SAMPLE_FILTER_SERVER(FilterType, filterClsid, pageClsid, displayName)                        \
    namespace {                                                                                   \
    const ServerClass kClasses[] = {                                                              \
        {filterClsid, displayName, "Both", true},                                                 \
        {pageClsid, displayName " Property Page", "Apartment", false},                            \
    };                                                                                            \
    HRESULT createPage(REFIID iid, void** out) { return createParameterPage(L"" displayName, iid, out); } \
    }                                                                                             \
    extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {           \
        if (reason == DLL_PROCESS_ATTACH) {                                                       \
            server::setInstance(instance);                                                        \
            DisableThreadLibraryCalls(instance);                                                  \
        } else if (reason == DLL_PROCESS_DETACH) {                                                \
            ParameterPage::unregisterWindowClass();                                               \
            releaseRuntimeAtUnload(reason, reserved);                                             \
        }                                                                                         \
        return TRUE;                                                                              \
    }                                                                                             \
    STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {                            \
        if (!out) return E_POINTER;                                                               \
        *out = nullptr;                                                                           \
        if (sameId(&clsid, &filterClsid)) return getClassFactory(createSampleObject<FilterType>, iid, out); \
        if (sameId(&clsid, &pageClsid)) return getClassFactory(createPage, iid, out);            \
        return CLASS_E_CLASSNOTAVAILABLE;                                                         \
    }                                                                                             \
    STDAPI DllCanUnloadNow() { return server::canUnload() ? S_OK : S_FALSE; }                     \
    STDAPI DllRegisterServer() { return registerClasses(server::instance(), kClasses, 2); }       \
    STDAPI DllUnregisterServer() { return unregisterClasses(kClasses, 2); }
