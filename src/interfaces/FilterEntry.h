// The catalogue's record of one installed filter; an instance keeps a pointer to its class's.
#pragma once

#include <windows.h>
#include <cstddef>

#pragma pack(push, 1)
struct FilterEntry {
    GUID classId;
    char name[128];  // zero-terminated display name, at most 63 characters used
};
#pragma pack(pop)
static_assert(sizeof(FilterEntry) == 144, "FilterEntry is 144 bytes");
static_assert(offsetof(FilterEntry, name) == 16, "name at 16");
