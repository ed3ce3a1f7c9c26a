// The COM object part that every sample filter shares: reference count, the MFX
// host attachment, integer parameters with range checks, their property page and
// their validated, versioned persistence. Event processing is the derived class's.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "common/SampleParameters.h"
#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"

struct FilterDescription {
    CLSID filterClsid;
    CLSID pageClsid;
    uint32_t stateMagic;  // first four bytes of the saved state
    uint16_t stateVersion;
    const ParameterInfo* parameters;
    int32_t parameterCount;
};

#pragma pack(push, 1)
// Saved state: this header, then `count` little-endian int32 values.
struct SampleStateHeader {
    uint32_t magic;
    uint16_t version;
    uint16_t count;
};
static_assert(sizeof(SampleStateHeader) == 8, "state header is 8 bytes");
static_assert(offsetof(SampleStateHeader, version) == 4, "version at 4");
static_assert(offsetof(SampleStateHeader, count) == 6, "count at 6");
#pragma pack(pop)

class SampleFilter : public IMfxFilterPlugin,
                     public ISpecifyPropertyPages,
                     public IPersistStream,
                     public ISampleParameters {
public:
    explicit SampleFilter(const FilterDescription& description);
    virtual ~SampleFilter();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMfxFilterPlugin: the host part; processing stays with the derived class.
    HRESULT STDMETHODCALLTYPE attachHost(IUnknown* host) override;
    HRESULT STDMETHODCALLTYPE detachHost() override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IPersist / IPersistStream
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    // ISampleParameters
    int32_t STDMETHODCALLTYPE parameterCount() override;
    HRESULT STDMETHODCALLTYPE parameterInfo(int32_t index, ParameterInfo* out) override;
    HRESULT STDMETHODCALLTYPE getParameter(int32_t index, int32_t* value) override;
    HRESULT STDMETHODCALLTYPE setParameter(int32_t index, int32_t value) override;

protected:
    int32_t parameter(int32_t index) const { return values_[index]; }
    IUnknown* host() const { return host_.get(); }
    // Called after attachHost stored the host context and after detachHost dropped it.
    virtual void hostChanged() {}

private:
    bool inRange(int32_t index, int32_t value) const;

    volatile LONG refCount_ = 1;
    const FilterDescription& description_;
    std::vector<int32_t> values_;
    ComRef<IUnknown> host_;
    bool dirty_ = false;
};

// Creates a filter of type T and queries it for iid.
template <class T>
HRESULT createSampleObject(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}
