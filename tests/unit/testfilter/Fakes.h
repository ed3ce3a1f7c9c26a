// Small stand-ins for what the module gives a filter: event lists, a sysex allocator,
// a host context and a page site. Each records what it is asked.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"

namespace fakes {

// Reference counting for objects that live on the test's stack: the count is checked,
// never used to destroy.
#define FAKE_REFCOUNT                                                           \
    LONG refs = 1;                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }                \
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

class FakeAllocator : public IMfxSysexAllocator {
public:
    FAKE_REFCOUNT
    std::vector<std::vector<uint8_t>> blocks;  // handle = index + 1

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE create(uint32_t size, SysexHandle* out) override {
        blocks.emplace_back(size, 0xEE);
        *out = static_cast<SysexHandle>(blocks.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE resize(SysexHandle, uint32_t, SysexHandle*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getData(SysexHandle block, uint8_t** data, uint32_t* size) override {
        if (block == 0 || block > blocks.size()) return E_INVALIDARG;
        *data = blocks[block - 1].data();
        *size = static_cast<uint32_t>(blocks[block - 1].size());
        return S_OK;
    }
};

class FakeEventList : public IMfxEventList {
public:
    FAKE_REFCOUNT
    std::vector<MfxEvent> events;
    FakeAllocator* alloc = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!sameId(&iid, &comid::IUnknown) && !sameId(&iid, &mfxid::IMfxEventList)) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add(const MfxEvent* e) override {
        events.push_back(*e);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override {
        *out = static_cast<int32_t>(events.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get(int32_t i, MfxEvent* out) override {
        if (!out || i < 0 || i >= static_cast<int32_t>(events.size())) return E_UNEXPECTED;
        *out = events[i];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) override {
        *out = alloc;
        if (!alloc) return E_NOTIMPL;
        alloc->AddRef();
        return S_OK;
    }
};

class FakeShortEventList : public IMfxShortEventList {
public:
    FAKE_REFCOUNT
    std::vector<MfxShortEvent> events;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE add(const MfxShortEvent* e) override {
        events.push_back(*e);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override {
        *out = static_cast<int32_t>(events.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get(int32_t i, MfxShortEvent* out) override {
        if (!out || i < 0 || i >= static_cast<int32_t>(events.size())) return E_UNEXPECTED;
        *out = events[i];
        return S_OK;
    }
};

// A host context with fixed answers for tempo, timer and event output; the other
// MFX interfaces are missing.
class FakeHostContext : public IMfxTempoQuery, public IMfxTimerControl, public IMfxEventOutput {
public:
    LONG refs = 1;
    std::vector<std::string> calls;
    std::vector<MfxEvent> sent;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &mfxid::IMfxTempoQuery))
            *out = static_cast<IMfxTempoQuery*>(this);
        else if (sameId(&iid, &mfxid::IMfxTimerControl))
            *out = static_cast<IMfxTimerControl*>(this);
        else if (sameId(&iid, &mfxid::IMfxEventOutput))
            *out = static_cast<IMfxEventOutput*>(this);
        if (!*out) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    int32_t STDMETHODCALLTYPE fromRealTime(int32_t t) override { return t * 2; }
    int32_t STDMETHODCALLTYPE toRealTime(int32_t t) override { return t / 2; }
    int32_t STDMETHODCALLTYPE timeBase() override { return 960; }
    int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t) override { return 3; }
    int32_t STDMETHODCALLTYPE tempoCount() override { return 4; }
    HRESULT STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* time, int32_t* tempo) override {
        *time = 1234;
        *tempo = 500000 + index;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE timerPeriod(int32_t* period) override {
        *period = 20;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE startTimer() override {
        calls.push_back("startTimer");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE stopTimer() override {
        calls.push_back("stopTimer");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE sendEvent(uint32_t, const MfxEvent* e) override {
        calls.push_back("sendEvent");
        sent.push_back(*e);
        return S_OK;
    }
};

class FakePageSite : public IPropertyPageSite {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!sameId(&iid, &comid::IUnknown) && !sameId(&iid, &comid::IPropertyPageSite)) return E_NOINTERFACE;
        *out = this;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* id) override {
        *id = GetThreadLocale();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
};

inline MfxEvent note(int32_t time, uint8_t key, uint8_t velocity, uint32_t duration) {
    MfxEvent e{};
    e.time = time;
    e.channel = 0;
    e.type = MfxNote;
    e.data[0] = key;
    e.data[1] = velocity;
    mfxdata::setNoteDuration(e, duration);
    return e;
}

inline MfxShortEvent shortEvent(int32_t time, uint8_t status, uint8_t d1, uint8_t d2) {
    MfxShortEvent e{};
    e.time = time;
    e.status = status;
    e.data1 = d1;
    e.data2 = d2;
    return e;
}

}  // namespace fakes

inline bool operator==(const MfxEvent& a, const MfxEvent& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool operator==(const MfxShortEvent& a, const MfxShortEvent& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
