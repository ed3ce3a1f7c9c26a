// Self-registration of a sample filter DLL under HKEY_LOCAL_MACHINE: the COM class
// keys of its classes and, for filters, the MFX filter key.
#pragma once

#include <windows.h>

struct ServerClass {
    CLSID clsid;
    const char* name;       // default value of the class key
    const char* threading;  // ThreadingModel
    bool mfxFilter;         // also listed under the MFX filter key
};

// The 38-character registry form, braces included.
void guidText(const GUID& id, char (&text)[39]);

// Writes every class; on the first failure removes what it wrote and answers SELFREG_E_CLASS.
HRESULT registerClasses(HINSTANCE module, const ServerClass* classes, int count);
// Removes every class's keys; keys that are already gone are not an error.
HRESULT unregisterClasses(const ServerClass* classes, int count);

extern const char* const kMfxFiltersKey;
