// The catalogue of installed MFX filters, filled once at process attach.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct FilterEntry {
    GUID classId;
    char name[128];  // zero-terminated display name, at most 63 characters used
};
#pragma pack(pop)
static_assert(sizeof(FilterEntry) == 144, "FilterEntry is 144 bytes");
static_assert(offsetof(FilterEntry, name) == 16, "name at 16");

extern const char* const kFilterRegistryPath;    // "Software\Cakewalk Music Software\MIDI Filters"
extern const char* const kVerifiedRegistryPath;  // "Software\Morlanite\Palisander\Verified"

// Scans the registry, probes unverified filters and registers usable ones with the
// static factory. True when at least one class was registered.
bool scanCatalogue();
// Frees the catalogue (process detach); harmless without one.
void freeCatalogue();

const FilterEntry* catalogueEntries();
int32_t catalogueCount();
