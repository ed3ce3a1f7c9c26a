#include "BenchEventList.h"

#include "interfaces/ComExtras.h"

HRESULT STDMETHODCALLTYPE BenchEventList::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, IID_IMfxEventList)) {
        *out = static_cast<IMfxEventList*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE BenchEventList::AddRef() { return ULONG(++refCount_); }

// Lives on the benchmark's stack: the count never deletes it.
ULONG STDMETHODCALLTYPE BenchEventList::Release() { return ULONG(--refCount_); }

HRESULT STDMETHODCALLTYPE BenchEventList::add(const MfxEvent* event) {
    if (!event) return E_POINTER;
    records_.push_back(*event);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BenchEventList::count(int32_t* out) {
    if (!out) return E_POINTER;
    *out = int32_t(records_.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BenchEventList::get(int32_t index, MfxEvent* out) {
    if (!out) return E_POINTER;
    if (index < 0 || size_t(index) >= records_.size()) return E_INVALIDARG;
    *out = records_[size_t(index)];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BenchEventList::allocator(IMfxSysexAllocator** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}
