// The catalogue of installed MFX filters, filled once at process attach.
#pragma once

#include <windows.h>
#include <cstdint>

#include "interfaces/FilterEntry.h"

extern const char* const kFilterRegistryPath;    // "Software\Cakewalk Music Software\MIDI Filters"
extern const char* const kVerifiedRegistryPath;  // "Software\Morlanite\Palisander\Verified"

// Scans the registry, probes unverified filters and registers usable ones with the
// static factory. True when at least one class was registered.
bool scanCatalogue();
// Frees the catalogue (process detach); harmless without one.
void freeCatalogue();

const FilterEntry* catalogueEntries();
int32_t catalogueCount();
