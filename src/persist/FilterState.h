// Saving and restoring a filter's settings through its IPersistStream over a memory stream.
// Results follow the host's convention: 0 done, 1 not done.
#pragma once

#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/ComExtras.h"
#include "persist/MemoryStream.h"

// The instance's streams. A stream lent to the filter's Load or Save stays alive until
// the next state call, so a filter that kept it without a reference finds it intact at
// its next call rather than freed memory.
struct StateStreams {
    Owner<MemoryStream> snapshot;  // saved by a size request, waiting for the copy
    Owner<MemoryStream> lent;      // the last one the filter was given
};

// Restores the filter from size bytes at data.
int32_t restoreFilterState(IPersistStream* persist, StateStreams& streams, const void* data, int32_t size);
// First call of the host's two-call read: saves into a fresh snapshot, reports its length.
int32_t saveStateSnapshot(IPersistStream* persist, StateStreams& streams, int32_t* size);
// Second call: copies the snapshot into buffer (capacity *size); the snapshot is then done.
int32_t copyStateSnapshot(IPersistStream* persist, StateStreams& streams, void* buffer, int32_t* size);
