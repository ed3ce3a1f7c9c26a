// The library entry point; the DLL's only file that the unit-test library leaves out.
#include <windows.h>

#include "entry/ModuleEntry.h"
#include "guard/Guard.h"
#include "interfaces/RuntimeRelease.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    const bool ok = moduleEntry(instance, reason);
    if (reason == DLL_PROCESS_DETACH) guard::releaseThreadSlot();
    releaseRuntimeAtUnload(reason, reserved);
    return ok ? TRUE : FALSE;
}
