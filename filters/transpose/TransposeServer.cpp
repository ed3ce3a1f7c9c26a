// The exports of transpose.dll.
#include <windows.h>

#include "common/ClassFactory.h"
#include "common/ParameterPage.h"
#include "common/Registration.h"
#include "common/ServerModule.h"
#include "transpose/Transpose.h"

namespace {

const ServerClass kClasses[] = {
    {CLSID_Transpose, "Transpose", "Both", true},
    {CLSID_TransposePage, "Transpose Property Page", "Apartment", false},
};

HRESULT createPage(REFIID iid, void** out) { return createParameterPage(L"Transpose", iid, out); }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        server::setInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        ParameterPage::unregisterWindowClass();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (sameGuid(&clsid, CLSID_Transpose)) return getClassFactory(createSampleObject<Transpose>, iid, out);
    if (sameGuid(&clsid, CLSID_TransposePage)) return getClassFactory(createPage, iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return server::canUnload() ? S_OK : S_FALSE; }
STDAPI DllRegisterServer() { return registerClasses(server::instance(), kClasses, 2); }
STDAPI DllUnregisterServer() { return unregisterClasses(kClasses, 2); }
