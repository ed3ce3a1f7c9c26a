// Loading the sample filter DLLs, and the fakes that drive them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "common/SampleParameters.h"
#include "interfaces/ComExtras.h"
#include "interfaces/MfxInterfaces.h"

// One loaded sample filter DLL and its exports.
class FilterDll {
public:
    explicit FilterDll(const char* name);
    ~FilterDll();
    FilterDll(const FilterDll&) = delete;
    FilterDll& operator=(const FilterDll&) = delete;

    HMODULE module() const { return module_; }
    FARPROC symbol(const char* name) const;
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out) const;
    // A new object of clsid through the DLL's class factory.
    template <class T>
    ComRef<T> create(REFCLSID clsid, REFIID iid) const {
        ComRef<IClassFactory> factory;
        ComRef<T> object;
        if (getClassObject(clsid, IID_IClassFactory, factory.putVoid()) == S_OK)
            factory->CreateInstance(nullptr, iid, object.putVoid());
        return object;
    }

private:
    HMODULE module_ = nullptr;
};

// An event list that keeps what is added; get answers from the same records.
class FakeEventList : public IMfxEventList {
public:
    explicit FakeEventList(std::vector<MfxEvent> records = {}) : records(std::move(records)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE add(const MfxEvent* event) override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE get(int32_t index, MfxEvent* out) override;
    HRESULT STDMETHODCALLTYPE allocator(IMfxSysexAllocator** out) override;

    std::vector<MfxEvent> records;
    LONG refs = 1;
};

class FakeShortEventList : public IMfxShortEventList {
public:
    explicit FakeShortEventList(std::vector<MfxShortEvent> records = {}) : records(std::move(records)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE add(const MfxShortEvent* event) override;
    HRESULT STDMETHODCALLTYPE count(int32_t* out) override;
    HRESULT STDMETHODCALLTYPE get(int32_t index, MfxShortEvent* out) override;

    std::vector<MfxShortEvent> records;
    LONG refs = 1;
};

// A host context: answers IMfxTempoQuery only when given a time base, and
// IMfxTimerControl when asked to.
class FakeHost : public IMfxTempoQuery, public IMfxTimerControl {
public:
    explicit FakeHost(bool answersTempo, int32_t timeBase = 0) : answersTempo(answersTempo), base(timeBase) {}
    IUnknown* unknown() { return static_cast<IMfxTempoQuery*>(this); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    int32_t STDMETHODCALLTYPE fromRealTime(int32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE toRealTime(int32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE timeBase() override {
        ++timeBaseCalls;
        return base;
    }
    int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE tempoCount() override { return 0; }
    HRESULT STDMETHODCALLTYPE tempoEntry(int32_t, int32_t*, int32_t*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE timerPeriod(int32_t* period) override {
        *period = 20;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE startTimer() override {
        ++timerStarts;
        timerOn = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE stopTimer() override {
        ++timerStops;
        timerOn = false;
        return S_OK;
    }

    bool answersTempo;
    int32_t base;
    bool answersTimer = false;
    int timeBaseCalls = 0;
    int timerStarts = 0, timerStops = 0;
    bool timerOn = false;
    std::vector<GUID> asked;
    LONG refs = 1;
};

MfxEvent note(int32_t time, uint8_t key, uint8_t velocity, uint32_t duration = 100, uint8_t channel = 0);
MfxEvent record(int32_t time, int32_t type, uint8_t d0, uint8_t d1 = 0, uint8_t d2 = 0, uint8_t channel = 0);
MfxShortEvent shortEvent(int32_t time, uint8_t status, uint8_t d1, uint8_t d2);

// The bytes a stream holds, and a stream over given bytes (positioned at 0).
std::vector<uint8_t> streamBytes(IStream* stream);
ComRef<IStream> streamOver(const std::vector<uint8_t>& bytes);

// COM for the test's thread.
class ComScope {
public:
    ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { CoUninitialize(); }
};
