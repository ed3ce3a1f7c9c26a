#include "platform/ComUnload.h"

#include <objbase.h>

void freeUnusedComLibraries(DWORD delay) {
    typedef void(WINAPI * FreeEx)(DWORD, DWORD);
    HMODULE ole = GetModuleHandleA("OLE32");
    FreeEx freeEx = ole ? reinterpret_cast<FreeEx>(reinterpret_cast<void*>(GetProcAddress(ole, "CoFreeUnusedLibrariesEx")))
                        : nullptr;
    if (freeEx)
        freeEx(delay, 0);
    else
        CoFreeUnusedLibraries();
}
