#include "common/SampleFilter.h"

#include <objbase.h>

#include "common/ServerModule.h"

namespace {

// Reads exactly size bytes; anything short is a truncated state.
HRESULT readAll(IStream* stream, void* data, ULONG size) {
    ULONG got = 0;
    HRESULT hr = stream->Read(data, size, &got);
    if (FAILED(hr)) return hr;
    return got == size ? S_OK : STG_E_READFAULT;
}

HRESULT writeAll(IStream* stream, const void* data, ULONG size) {
    ULONG put = 0;
    HRESULT hr = stream->Write(data, size, &put);
    if (FAILED(hr)) return hr;
    return put == size ? S_OK : STG_E_WRITEFAULT;
}

}  // namespace

SampleFilter::SampleFilter(const FilterDescription& description) : description_(description) {
    for (int32_t i = 0; i < description.parameterCount; ++i) values_.push_back(description.parameters[i].initial);
    server::objectCreated();
}

SampleFilter::~SampleFilter() { server::objectDestroyed(); }

HRESULT STDMETHODCALLTYPE SampleFilter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &mfxid::IMfxFilterPlugin))
        *out = static_cast<IMfxFilterPlugin*>(this);
    else if (sameId(&iid, &comid::ISpecifyPropertyPages))
        *out = static_cast<ISpecifyPropertyPages*>(this);
    else if (sameId(&iid, &comid::IPersistStream) || sameId(&iid, &IID_IPersist))
        *out = static_cast<IPersistStream*>(this);
    else if (sameId(&iid, &IID_ISampleParameters))
        *out = static_cast<ISampleParameters*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE SampleFilter::AddRef() { return InterlockedIncrement(&refCount_); }

ULONG STDMETHODCALLTYPE SampleFilter::Release() {
    LONG n = InterlockedDecrement(&refCount_);
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE SampleFilter::attachHost(IUnknown* host) {
    if (host) host->AddRef();
    host_.reset(host);
    hostChanged();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::detachHost() {
    host_.reset();
    hostChanged();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = description_.pageClsid;
    pages->cElems = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::GetClassID(CLSID* id) {
    if (!id) return E_POINTER;
    *id = description_.filterClsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE SampleFilter::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    SampleStateHeader header;
    HRESULT hr = readAll(stream, &header, sizeof header);
    if (FAILED(hr)) return hr;
    if (header.magic != description_.stateMagic || header.version != description_.stateVersion ||
        header.count != description_.parameterCount)
        return E_FAIL;
    std::vector<int32_t> loaded(header.count);
    if (!loaded.empty()) {
        hr = readAll(stream, loaded.data(), static_cast<ULONG>(loaded.size() * sizeof(int32_t)));
        if (FAILED(hr)) return hr;
    }
    for (int32_t i = 0; i < header.count; ++i)
        if (!inRange(i, loaded[i])) return E_FAIL;
    values_ = loaded;
    dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::Save(IStream* stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    SampleStateHeader header{description_.stateMagic, description_.stateVersion,
                             static_cast<uint16_t>(description_.parameterCount)};
    HRESULT hr = writeAll(stream, &header, sizeof header);
    if (SUCCEEDED(hr) && !values_.empty())
        hr = writeAll(stream, values_.data(), static_cast<ULONG>(values_.size() * sizeof(int32_t)));
    if (FAILED(hr)) return hr;
    if (clearDirty) dirty_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = sizeof(SampleStateHeader) + values_.size() * sizeof(int32_t);
    return S_OK;
}

int32_t STDMETHODCALLTYPE SampleFilter::parameterCount() { return description_.parameterCount; }

HRESULT STDMETHODCALLTYPE SampleFilter::parameterInfo(int32_t index, ParameterInfo* out) {
    if (!out) return E_POINTER;
    if (index < 0 || index >= description_.parameterCount) return E_INVALIDARG;
    *out = description_.parameters[index];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::getParameter(int32_t index, int32_t* value) {
    if (!value) return E_POINTER;
    if (index < 0 || index >= description_.parameterCount) return E_INVALIDARG;
    *value = values_[index];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleFilter::setParameter(int32_t index, int32_t value) {
    if (!inRange(index, value)) return E_INVALIDARG;
    if (values_[index] != value) dirty_ = true;
    values_[index] = value;
    return S_OK;
}

bool SampleFilter::inRange(int32_t index, int32_t value) const {
    if (index < 0 || index >= description_.parameterCount) return false;
    const ParameterInfo& p = description_.parameters[index];
    return value >= p.minimum && value <= p.maximum;
}
