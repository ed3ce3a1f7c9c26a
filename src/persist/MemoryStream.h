// IStream over one growable block of global memory, for a filter's saved state.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>

class MemoryStream : public IStream {
public:
    // Empty: no block, all counters 0, the three times equal.
    MemoryStream();
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

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

    virtual ~MemoryStream();

    // Direct use by the state code.
    void rewind() { position_ = 0; }
    const uint8_t* data() const { return data_; }
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

    LONG count_ = 1;
    uint8_t* data_ = nullptr;
    HGLOBAL block_ = nullptr;
    int32_t capacity_ = 0;
    int32_t size_ = 0;
    int32_t position_ = 0;
    FILETIME created_{};
    FILETIME modified_{};
    FILETIME accessed_{};
    int32_t failNext_ = 0;
};
