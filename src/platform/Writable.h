// Whether memory can be written, asked of the memory manager instead of by trying:
// a probing write swallows guard-page faults and races with other threads.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace platform {

inline bool writable(const void* address, size_t size) {
    if (!address) return false;
    constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    uintptr_t at = reinterpret_cast<uintptr_t>(address);
    const uintptr_t end = at + size;
    if (end < at) return false;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) != sizeof info) return false;
        if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD) || !(info.Protect & kWritable)) return false;
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (regionEnd <= at) return false;
        at = regionEnd;
    }
    return true;
}

}  // namespace platform
