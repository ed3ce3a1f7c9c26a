#pragma once
#include <windows.h>

// Lets COM unload in-process servers no longer in use, with the unload delay in ms.
void freeUnusedComLibraries(DWORD delay);
