// Registry entries of the test filter's classes, all under HKEY_LOCAL_MACHINE.
#pragma once

#include "ControlState.h"

namespace testfilter {

HRESULT registerClass(const GUID& clsid, const char* name, int32_t flags);
HRESULT unregisterClass(const GUID& clsid);

// The fixed classes that DllRegisterServer writes and DllUnregisterServer removes.
struct FixedClass {
    const GUID* clsid;
    int32_t flags;
};
extern const FixedClass fixedClasses[5];

}  // namespace testfilter
