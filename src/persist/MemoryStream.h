// IStream over one growable block of global memory, for a filter's saved state.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>

#include "host/ComObject.h"

// One block of global memory, locked while held; going out of scope unlocks and
// frees it.
class GlobalBlock {
public:
    GlobalBlock() = default;
    // Adopts the block and locks it; a block that can't be locked is still freed.
    explicit GlobalBlock(HGLOBAL block);
    ~GlobalBlock() { reset(); }
    GlobalBlock(GlobalBlock&& other) noexcept;
    GlobalBlock& operator=(GlobalBlock&& other) noexcept;
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    void reset();
    // Unlocked for the duration of a resize, then locked again (the handle may move).
    // False when it cannot be locked again: the block is then unreachable and freed.
    template <class Resize>
    bool resize(Resize&& resizeHandle);

    uint8_t* data() const { return data_; }
    HGLOBAL handle() const { return handle_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL handle_ = nullptr;
    uint8_t* data_ = nullptr;
};

template <class Resize>
bool GlobalBlock::resize(Resize&& resizeHandle) {
    GlobalUnlock(handle_);
    data_ = nullptr;
    HGLOBAL moved = resizeHandle(handle_);
    if (moved) handle_ = moved;
    data_ = static_cast<uint8_t*>(GlobalLock(handle_));
    if (!data_) {
        reset();
        return false;
    }
    return moved != nullptr;
}

// Heap only, count 1 (the creator's): handed to a filter's code, it lives while
// anyone holds a reference.
class MemoryStream : public ComObject<MemoryStream, lifetime::Owned, IStream> {
public:
    // Empty: no block, all counters 0, the three times equal.
    MemoryStream();

    static const InterfaceEntry* interfaceTable();

    // A null buffer with a count above 0 answers STG_E_INVALIDPOINTER and changes nothing.
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
    // Also STG_E_INVALIDPOINTER for a null buffer with a count above 0; when the
    // block cannot grow, STG_E_MEDIUMFULL with 0 written and the content kept.
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    // Manages the block only; E_OUTOFMEMORY (block and content kept) when it cannot grow.
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* out, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override;

    ~MemoryStream() override;

    // Direct use by the state code.
    void rewind() { position_ = 0; }
    const uint8_t* data() const { return block_.data(); }
    int32_t size() const { return size_; }
    int32_t capacity() const { return capacity_; }
    int32_t position() const { return position_; }

    // Test hook: the next n block allocations (GlobalAlloc or GlobalReAlloc) fail.
    // Growing an existing block takes two: in place, then a fresh block.
    void failNextAllocations(int32_t n) { failNext_ = n < 0 ? 0 : n; }

private:
    void dropBlock();
    HGLOBAL allocate(SIZE_T bytes);
    HGLOBAL reallocate(HGLOBAL block, SIZE_T bytes);

    GlobalBlock block_;
    int32_t capacity_ = 0;
    int32_t size_ = 0;
    int32_t position_ = 0;
    FILETIME created_{};
    FILETIME modified_{};
    FILETIME accessed_{};
    int32_t failNext_ = 0;
};
