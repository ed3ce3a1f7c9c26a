// A plain MFX event list for driving a filter directly: the records in a vector,
// no sysex allocator. The benchmark's floor for what any host must do.
#pragma once

#include <vector>

#include "interfaces/MfxInterfaces.h"

class BenchEventList : public IMfxEventList {
public:
    BenchEventList() = default;
    virtual ~BenchEventList() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE add(const MfxEvent* event) override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE get(int32_t index, MfxEvent* out) override;
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) override;

    std::vector<MfxEvent>& records() { return records_; }

private:
    LONG refCount_ = 1;
    std::vector<MfxEvent> records_;
};
