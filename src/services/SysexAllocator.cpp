#include "services/SysexAllocator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "interfaces/ComExtras.h"

static_assert(sizeof(void*) == sizeof(SysexHandle), "a block handle is its address");

namespace {
class SharedLock {
public:
    explicit SharedLock(SRWLOCK* l) : l_(l) { AcquireSRWLockShared(l_); }
    ~SharedLock() { ReleaseSRWLockShared(l_); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK* l_;
};

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK* l) : l_(l) { AcquireSRWLockExclusive(l_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(l_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK* l_;
};

SysexBlock* blockAt(SysexHandle h) { return reinterpret_cast<SysexBlock*>(static_cast<uintptr_t>(h)); }
}  // namespace

SysexAllocator& sysexAllocator() {
    static SysexAllocator instance;
    return instance;
}

const InterfaceEntry* SysexAllocator::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IMfxSysexAllocator>(&comid::IUnknown),
        entry<IMfxSysexAllocator>(&mfxid::IMfxSysexAllocator),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE SysexAllocator::create(uint32_t size, SysexHandle* out) {
    if (!out) return E_POINTER;
    *out = 0;
    // size + 12 must not wrap into a small block.
    if (size > UINT32_MAX - sizeof(SysexBlock)) return E_OUTOFMEMORY;
    auto* block = static_cast<SysexBlock*>(std::malloc(size + sizeof(SysexBlock)));
    if (!block) return E_OUTOFMEMORY;
    block->magic = SysexBlock::Magic;
    block->size = size;
    const SysexHandle handle = SysexHandle(reinterpret_cast<uintptr_t>(block));
    try {
        ExclusiveLock hold(&lock_);
        live_.emplace(handle, size);
    } catch (...) {
        std::free(block);
        return E_OUTOFMEMORY;
    }
    *out = handle;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SysexAllocator::resize(SysexHandle old, uint32_t size, SysexHandle* out) {
    if (!isValid(old)) return E_INVALIDARG;
    if (!out) return E_POINTER;
    const HRESULT hr = create(size, out);
    if (FAILED(hr)) return hr;
    {
        // Validate and copy under the lock: another thread may free the old block
        // meanwhile. Both sizes are our own, so the copy stays inside both blocks.
        SharedLock hold(&lock_);
        auto at = live_.find(old);
        if (at != live_.end()) {
            std::memcpy(blockAt(*out)->data, blockAt(old)->data, std::min(at->second, size));
            return S_OK;
        }
    }
    free(*out);
    *out = 0;
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE SysexAllocator::getData(SysexHandle block, uint8_t** data, uint32_t* size) {
    if (!data || !size) return E_POINTER;
    uint32_t n = 0;
    if (!liveSize(block, &n)) return E_INVALIDARG;
    *data = blockAt(block)->data;
    *size = n;
    return S_OK;
}

bool SysexAllocator::liveSize(SysexHandle block, uint32_t* size) const {
    if (!block) return false;
    SharedLock hold(&lock_);
    auto at = live_.find(block);
    if (at == live_.end()) return false;
    *size = at->second;
    return true;
}

size_t SysexAllocator::liveCount() const {
    SharedLock hold(&lock_);
    return live_.size();
}

bool SysexAllocator::isValid(SysexHandle block) const {
    uint32_t ignored;
    return liveSize(block, &ignored);
}

SysexAllocator::~SysexAllocator() {
    for (SysexHandle h : quarantine_) std::free(blockAt(h));
}

SysexHandle SysexAllocator::retire(SysexHandle block) {
    auto at = live_.find(block);
    if (at == live_.end()) return 0;
    live_.erase(at);
    blockAt(block)->magic = SysexBlock::FreedMagic;
    const SysexHandle oldest = quarantine_[quarantineNext_];
    quarantine_[quarantineNext_] = block;
    quarantineNext_ = (quarantineNext_ + 1) % quarantineSize;
    return oldest;
}

HRESULT SysexAllocator::free(SysexHandle block) {
    if (!block) return E_INVALIDARG;
    SysexHandle released = 0;
    {
        ExclusiveLock hold(&lock_);
        if (live_.find(block) == live_.end()) return E_INVALIDARG;
        released = retire(block);
    }
    std::free(blockAt(released));
    return S_OK;
}

void SysexAllocator::freeEach(SysexHandle* handles, size_t count) {
    // One step under the lock: a handle listed twice can't free another thread's new
    // block that took the same address in between.
    std::sort(handles, handles + count);
    SysexHandle* last = std::unique(handles, handles + count);
    ExclusiveLock hold(&lock_);
    for (SysexHandle* h = handles; h != last; ++h) std::free(blockAt(retire(*h)));
}
