// The one process-wide allocator of sysex blocks that filters and the module share.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

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
    // At unload: the held-back memory goes to the heap.
    ~SysexAllocator() override;

    static const InterfaceEntry* interfaceTable();
    HRESULT STDMETHODCALLTYPE create(uint32_t size, SysexHandle* out) override;
    HRESULT STDMETHODCALLTYPE resize(SysexHandle old, uint32_t size, SysexHandle* out) override;
    HRESULT STDMETHODCALLTYPE getData(SysexHandle block, uint8_t** data, uint32_t* size) override;

    // Module-side: only blocks made here and not yet freed are valid.
    bool isValid(SysexHandle block) const;
    // E_INVALIDARG (and nothing happens) for an invalid block.
    HRESULT free(SysexHandle block);
    // Frees each distinct valid block of handles[0..count) once, in one step; sorts
    // the handles. Invalid ones are left alone.
    void freeEach(SysexHandle* handles, size_t count);

    // Blocks made and not yet freed.
    size_t liveCount() const;

    // Freed blocks whose memory is held back from reuse.
    static constexpr size_t quarantineSize = 1024;

private:
    // Reads a live block's size under the lock; false for an invalid block.
    bool liveSize(SysexHandle block, uint32_t* size) const;
    // Under the exclusive lock: ends a live block; returns the block whose memory
    // may now go back to the heap (0 for none).
    SysexHandle retire(SysexHandle block);

    // Filters may create from any thread. The live blocks and their sizes are what
    // validation trusts: a block's own header is memory a filter can write.
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<SysexHandle, uint32_t> live_;
    // A handle is an address: a freed block's memory is kept for a while, so that the
    // heap can't give its address to a new block and a stale handle become valid again.
    SysexHandle quarantine_[quarantineSize] = {};
    size_t quarantineNext_ = 0;
};

// The module's one allocator, alive from load to unload.
SysexAllocator& sysexAllocator();
