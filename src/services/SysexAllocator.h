// The one process-wide allocator of sysex blocks that filters and the module share.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

#include "host/ComObject.h"
#include "interfaces/MfxInterfaces.h"

// Layout of one block: header, the data, then 4 spare bytes so that the
// 12 bytes from the handle exist even for a block of size 0.
#pragma pack(push, 1)
struct SysexBlock {
    static constexpr uint32_t Magic = 0x4278664D;  // "MfxB"
    static constexpr uint32_t FreedMagic = 0xDDDDDDDD;
    uint32_t magic;
    uint32_t size;
    uint8_t data[4];  // really `size` bytes, followed by the spare ones
};
static_assert(sizeof(SysexBlock) == 12, "SysexBlock minimum is 12 bytes");
static_assert(offsetof(SysexBlock, size) == 4, "size at 4");
static_assert(offsetof(SysexBlock, data) == 8, "data at 8");
#pragma pack(pop)

// Filters may call it from any thread, so its count is interlocked; it never
// destroys itself.
class SysexAllocator : public ComObject<SysexAllocator, lifetime::SharedStatic, IMfxSysexAllocator> {
public:
    SysexAllocator() = default;

    static const InterfaceEntry* interfaceTable();
    HRESULT STDMETHODCALLTYPE create(uint32_t size, SysexHandle* out) override;
    HRESULT STDMETHODCALLTYPE resize(SysexHandle old, uint32_t size, SysexHandle* out) override;
    HRESULT STDMETHODCALLTYPE getData(SysexHandle block, uint8_t** data, uint32_t* size) override;

    // Module-side: only blocks made here and not yet freed are valid.
    bool isValid(SysexHandle block) const;
    // E_INVALIDARG (and nothing happens) for an invalid block.
    HRESULT free(SysexHandle block);

    // Blocks made and not yet freed.
    size_t liveCount() const;

private:
    // Reads a live block's size under the lock; false for an invalid block.
    bool liveSize(SysexHandle block, uint32_t* size) const;

    // Filters may create from any thread; the live set is what validation trusts.
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_set<SysexHandle> live_;
};

// The module's one allocator, alive from load to unload.
SysexAllocator& sysexAllocator();
