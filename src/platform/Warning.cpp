#include "platform/Warning.h"

#include <windows.h>
#include <cstring>

#include "platform/ModuleHandle.h"

int showWarning(const char* text) {
    char path[MAX_PATH + 1];
    std::memset(path, 0, sizeof path);
    GetModuleFileNameA(moduleInstance(), path, MAX_PATH);
    const char* slash = std::strrchr(path, '\\');
    const char* caption = slash ? slash + 1 : path;
    return MessageBoxA(nullptr, text ? text : "", caption, 0x00052030);
}
