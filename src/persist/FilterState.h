// Saving and restoring a filter's settings through its IPersistStream over a memory stream.
// Results follow the host's convention: 0 done, 1 not done.
#pragma once

#include <cstdint>

#include "interfaces/ComExtras.h"
#include "persist/MemoryStream.h"

// Restores the filter from size bytes at data.
int32_t restoreFilterState(IPersistStream* persist, const void* data, int32_t size);
// First call of the host's two-call read: saves into a fresh snapshot, reports its length.
int32_t saveStateSnapshot(IPersistStream* persist, ComRef<MemoryStream>& snapshot, int32_t* size);
// Second call: copies the snapshot into buffer (capacity *size) and lets it go.
int32_t copyStateSnapshot(IPersistStream* persist, ComRef<MemoryStream>& snapshot, void* buffer, int32_t* size);
