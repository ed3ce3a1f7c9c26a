// Plain MFX event lists for driving a filter directly: the records in a vector, no sysex
// allocator. The benchmark's floor for what any host must do.
#pragma once

#include <vector>

#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"

// Lives on its user's stack: the count never deletes it.
template <class Interface, class Record, const GUID& Iid>
class BenchRecords : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, Iid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refCount_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refCount_); }

    HRESULT STDMETHODCALLTYPE add(const Record* record) override {
        if (!record) return E_POINTER;
        records_.push_back(*record);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override {
        if (!out) return E_POINTER;
        *out = int32_t(records_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get(int32_t index, Record* out) override {
        if (!out) return E_POINTER;
        if (index < 0 || size_t(index) >= records_.size()) return E_INVALIDARG;
        *out = records_[size_t(index)];
        return S_OK;
    }

    std::vector<Record>& records() { return records_; }

private:
    LONG refCount_ = 1;
    std::vector<Record> records_;
};

class BenchEventList : public BenchRecords<IMfxEventList, MfxEvent, IID_IMfxEventList> {
public:
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return E_NOTIMPL;
    }
};

using BenchShortEventList = BenchRecords<IMfxShortEventList, MfxShortEvent, IID_IMfxShortEventList>;
