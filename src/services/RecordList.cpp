#include "services/RecordList.h"

#include <algorithm>

void freeBlocksOnce(SysexHandle* handles, size_t count) {
    // Freeing a handle twice could free another thread's new block that the heap
    // placed at the same address in between.
    std::sort(handles, handles + count);
    SysexHandle* last = std::unique(handles, handles + count);
    SysexAllocator& allocator = sysexAllocator();
    for (SysexHandle* h = handles; h != last; ++h) allocator.free(*h);  // an already freed block is left alone
}
