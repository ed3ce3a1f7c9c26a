// What a DLL of this project does at its unload so that thousands of loads leave
// nothing behind: the static C++ runtime's pools are given back.
#pragma once

#include <windows.h>

namespace __gnu_cxx {
void __freeres() throw();
}

// Call from DllMain. Only at a FreeLibrary (reserved is null): at process exit other
// code may still need the pools, and the process gives everything back anyway.
inline void releaseRuntimeAtUnload(DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_DETACH && !reserved) __gnu_cxx::__freeres();
}
