#include "FilterFakes.h"

#include <cstring>

FilterDll::FilterDll(const char* name) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    folder = folder.substr(0, folder.find_last_of("\\/") + 1);
    module_ = LoadLibraryA((folder + name).c_str());
}

FilterDll::~FilterDll() {
    if (module_) FreeLibrary(module_);
}

FARPROC FilterDll::symbol(const char* name) const { return module_ ? GetProcAddress(module_, name) : nullptr; }

HRESULT FilterDll::getClassObject(REFCLSID clsid, REFIID iid, void** out) const {
    typedef HRESULT(STDAPICALLTYPE * Get)(REFCLSID, REFIID, void**);
    Get get = reinterpret_cast<Get>(symbol("DllGetClassObject"));
    return get ? get(clsid, iid, out) : E_FAIL;
}

HRESULT STDMETHODCALLTYPE FakeEventList::QueryInterface(REFIID iid, void** out) {
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &mfxid::IMfxEventList)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeEventList::add(const MfxEvent* event) {
    records.push_back(*event);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEventList::count(int32_t* out) {
    *out = static_cast<int32_t>(records.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEventList::get(int32_t index, MfxEvent* out) {
    if (index < 0 || index >= static_cast<int32_t>(records.size()) || !out) return E_UNEXPECTED;
    *out = records[index];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEventList::allocator(IMfxSysexAllocator** out) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE FakeShortEventList::QueryInterface(REFIID iid, void** out) {
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &mfxid::IMfxShortEventList)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeShortEventList::add(const MfxShortEvent* event) {
    records.push_back(*event);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeShortEventList::count(int32_t* out) {
    *out = static_cast<int32_t>(records.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeShortEventList::get(int32_t index, MfxShortEvent* out) {
    if (index < 0 || index >= static_cast<int32_t>(records.size()) || !out) return E_UNEXPECTED;
    *out = records[index];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHost::QueryInterface(REFIID iid, void** out) {
    asked.push_back(iid);
    if (sameId(&iid, &comid::IUnknown) || (answersTempo && sameId(&iid, &mfxid::IMfxTempoQuery))) {
        *out = static_cast<IMfxTempoQuery*>(this);
        AddRef();
        return S_OK;
    }
    if (answersTimer && sameId(&iid, &mfxid::IMfxTimerControl)) {
        *out = static_cast<IMfxTimerControl*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

MfxEvent note(int32_t time, uint8_t key, uint8_t velocity, uint32_t duration, uint8_t channel) {
    MfxEvent e = record(time, MfxNote, key, velocity, 40, channel);
    mfxdata::setNoteDuration(e, duration);
    return e;
}

MfxEvent record(int32_t time, int32_t type, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t channel) {
    MfxEvent e;
    memset(&e, 0, sizeof e);
    e.time = time;
    e.channel = channel;
    e.type = type;
    e.data[0] = d0;
    e.data[1] = d1;
    e.data[2] = d2;
    return e;
}

MfxShortEvent shortEvent(int32_t time, uint8_t status, uint8_t d1, uint8_t d2) {
    return MfxShortEvent{time, status, d1, d2, 0};
}

std::vector<uint8_t> streamBytes(IStream* stream) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

ComRef<IStream> streamOver(const std::vector<uint8_t>& bytes) {
    ComRef<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    ULONG put = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}
