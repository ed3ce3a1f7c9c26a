#include "persist/MemoryStream.h"

#include <cstring>
#include <utility>

#include "interfaces/ComExtras.h"

namespace {

constexpr int64_t kStep = 4096;
// The largest capacity that still fits a signed 32-bit field.
constexpr int64_t kMaxCapacity = 0x7FFFF000;

}  // namespace

GlobalBlock::GlobalBlock(HGLOBAL block)
    : handle_(block), data_(block ? static_cast<uint8_t*>(GlobalLock(block)) : nullptr) {}

GlobalBlock::GlobalBlock(GlobalBlock&& other) noexcept : handle_(other.handle_), data_(other.data_) {
    other.handle_ = nullptr;
    other.data_ = nullptr;
}

GlobalBlock& GlobalBlock::operator=(GlobalBlock&& other) noexcept {
    if (this != &other) {
        reset();
        std::swap(handle_, other.handle_);
        std::swap(data_, other.data_);
    }
    return *this;
}

void GlobalBlock::reset() {
    if (handle_) {
        if (data_) GlobalUnlock(handle_);
        GlobalFree(handle_);
    }
    handle_ = nullptr;
    data_ = nullptr;
}

MemoryStream::MemoryStream() {
    CoFileTimeNow(&created_);
    modified_ = created_;
    accessed_ = created_;
}

MemoryStream::~MemoryStream() { dropBlock(); }

void MemoryStream::dropBlock() {
    block_.reset();
    capacity_ = size_ = position_ = 0;
}

HGLOBAL MemoryStream::allocate(SIZE_T bytes) {
    if (failNext_ > 0) {
        --failNext_;
        return nullptr;
    }
    return GlobalAlloc(GMEM_DDESHARE, bytes);
}

HGLOBAL MemoryStream::reallocate(HGLOBAL block, SIZE_T bytes) {
    if (failNext_ > 0) {
        --failNext_;
        return nullptr;
    }
    return GlobalReAlloc(block, bytes, 0);
}

const InterfaceEntry* MemoryStream::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IStream>(&comid::IUnknown),
        entry<IStream>(&comid::ISequentialStream),
        entry<IStream>(&comid::IStream),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE MemoryStream::Read(void* buffer, ULONG count, ULONG* read) {
    if (read) *read = 0;
    if (!buffer && count > 0) return STG_E_INVALIDPOINTER;
    CoFileTimeNow(&accessed_);
    uint8_t* data = block_.data();
    if (!data || position_ < 0) return S_OK;
    int64_t n = count;
    int64_t left = int64_t(size_) - position_;
    if (n > left) {
        n = left;
        if (n <= 0) {
            position_ = size_;
            return S_OK;
        }
    }
    std::memcpy(buffer, data + position_, static_cast<size_t>(n));
    position_ += static_cast<int32_t>(n);
    if (read) *read = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryStream::Write(const void* buffer, ULONG count, ULONG* written) {
    if (written) *written = 0;
    if (!buffer && count > 0) return STG_E_INVALIDPOINTER;
    CoFileTimeNow(&accessed_);
    modified_ = accessed_;
    // A negative position writes nothing and must not grow the size either.
    if (position_ < 0) return S_OK;
    int64_t end = int64_t(position_) + count;
    if (end > kMaxCapacity) return STG_E_MEDIUMFULL;
    int32_t oldSize = size_;
    if (end > size_) {
        if (end > capacity_) {
            ULARGE_INTEGER want;
            want.QuadPart = static_cast<ULONGLONG>(end);
            // Through the table, as a derived stream would expect.
            if (FAILED(static_cast<IStream*>(this)->SetSize(want))) return STG_E_MEDIUMFULL;
        }
        size_ = static_cast<int32_t>(end);
    }
    uint8_t* data = block_.data();
    if (!data) return S_OK;  // a 0-byte write at position 0 of an empty stream
    // Bytes skipped over by a write past the end read back as zeros.
    if (position_ > oldSize) std::memset(data + oldSize, 0, static_cast<size_t>(position_ - oldSize));
    if (count == 0) return S_OK;
    std::memcpy(data + position_, buffer, count);
    position_ += static_cast<int32_t>(count);
    if (position_ >= size_) size_ = position_;
    if (written) *written = count;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryStream::Seek(LARGE_INTEGER move, DWORD origin,
                                             ULARGE_INTEGER* newPosition) {
    CoFileTimeNow(&accessed_);
    // Only the low 32 bits count; wrap-around arithmetic avoids signed overflow.
    uint32_t m = static_cast<uint32_t>(move.QuadPart);
    switch (origin) {
    case STREAM_SEEK_SET: position_ = static_cast<int32_t>(m); break;
    case STREAM_SEEK_CUR: position_ = static_cast<int32_t>(static_cast<uint32_t>(position_) + m); break;
    case STREAM_SEEK_END:
        position_ = static_cast<int32_t>(m) > 0 ? size_
                                                : static_cast<int32_t>(static_cast<uint32_t>(size_) + m);
        break;
    default: break;
    }
    if (newPosition) newPosition->QuadPart = static_cast<ULONGLONG>(static_cast<LONGLONG>(position_));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryStream::SetSize(ULARGE_INTEGER newSize) {
    CoFileTimeNow(&accessed_);
    if (newSize.QuadPart == 0) {
        dropBlock();
        return S_OK;
    }
    if (newSize.QuadPart > static_cast<ULONGLONG>(kMaxCapacity)) return E_OUTOFMEMORY;
    int64_t want = static_cast<int64_t>(newSize.QuadPart);
    int64_t capacity = capacity_ < kStep ? kStep : capacity_;
    while (capacity < want) capacity += kStep;
    // Never shrinks; a block already big enough needs no reallocation.
    if (block_ && capacity == capacity_) return S_OK;
    const SIZE_T bytes = static_cast<SIZE_T>(capacity);

    if (!block_) {
        GlobalBlock fresh(allocate(bytes));
        if (!fresh) return E_OUTOFMEMORY;
        block_ = std::move(fresh);
        capacity_ = static_cast<int32_t>(capacity);
        return S_OK;
    }

    // In place first; a block that can't be locked again is out of reach, and
    // nothing is left to keep.
    const bool grown = block_.resize([&](HGLOBAL h) { return reallocate(h, bytes); });
    if (!block_) {
        dropBlock();
        return E_OUTOFMEMORY;
    }
    if (grown) {
        capacity_ = static_cast<int32_t>(capacity);
        return S_OK;
    }
    // It could not grow in place: copy into a fresh block; on failure keep the old one.
    GlobalBlock fresh(allocate(bytes));
    if (!fresh) return E_OUTOFMEMORY;
    std::memcpy(fresh.data(), block_.data(), static_cast<size_t>(capacity_));
    block_ = std::move(fresh);
    capacity_ = static_cast<int32_t>(capacity);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE MemoryStream::Commit(DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MemoryStream::Revert() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE MemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MemoryStream::Stat(STATSTG* out, DWORD) {
    if (!out) return E_POINTER;
    std::memset(out, 0, sizeof *out);
    out->type = STGTY_STREAM;
    out->cbSize.QuadPart = static_cast<ULONGLONG>(static_cast<LONGLONG>(size_));
    out->mtime = modified_;
    out->ctime = created_;
    out->atime = accessed_;
    out->clsid = GUID_NULL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MemoryStream::Clone(IStream** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}
