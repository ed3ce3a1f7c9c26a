// A host's IMidiModuleHost for tests: events are handles with a time, and every
// call that matters to the module is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/UniqueId.h"
#include "interfaces/HostInterfaces.h"

class FakeModuleHost : public IMidiModuleHost {
public:
    // Not heap-owned: the count is only watched.
    int32_t refCount = 0;
    std::vector<std::string> calls;
    std::map<HostEvent, int32_t> times;
    int32_t timeReads = 0;
    int32_t outputNowResult = 0;
    bool answerModuleHost = true;

    HostEvent addEvent(HostEvent handle, int32_t time) {
        times[handle] = time;
        return handle;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (hostid::IUnknown.equals(&iid) || (answerModuleHost && hostid::IMidiModuleHost.equals(&iid))) {
            AddRef();
            *out = static_cast<IMidiModuleHost*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refCount); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refCount); }

    HostEvent STDMETHODCALLTYPE createEvent(uint32_t, uint32_t, uint32_t, uint32_t) override { return 0; }
    HostEvent STDMETHODCALLTYPE createSysexEvent(const uint8_t*, uint32_t) override { return 0; }
    HostEvent STDMETHODCALLTYPE copyEvent(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE releaseEvent(HostEvent e) override { return record("releaseEvent", e); }
    int32_t STDMETHODCALLTYPE outputEvent(HostEvent e) override { return record("outputEvent", e); }
    int32_t STDMETHODCALLTYPE outputEventNow(HostEvent e) override {
        record("outputEventNow", e);
        return outputNowResult;
    }
    int32_t STDMETHODCALLTYPE setEventTime(HostEvent e, int32_t t) override {
        times[e] = t;
        return 0;
    }
    int32_t STDMETHODCALLTYPE eventTime(HostEvent e) override {
        ++timeReads;
        return times[e];
    }
    int32_t STDMETHODCALLTYPE setEventDuration(HostEvent, uint32_t) override { return 0; }
    uint32_t STDMETHODCALLTYPE eventDuration(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE setLive(HostEvent, uint32_t) override { return 0; }
    uint8_t STDMETHODCALLTYPE isLive(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE setEventChannel(HostEvent, uint32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE eventChannel(HostEvent) override { return -1; }
    uint32_t STDMETHODCALLTYPE eventKind(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE reserved18() override { return 0; }
    uint32_t STDMETHODCALLTYPE eventData1(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE reserved20() override { return 0; }
    uint32_t STDMETHODCALLTYPE eventData2(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE reserved22() override { return 0; }
    uint32_t STDMETHODCALLTYPE releaseVelocity(HostEvent) override { return 0; }
    int32_t STDMETHODCALLTYPE setReleaseVelocity(HostEvent, uint32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE reserved25() override { return 0; }
    int32_t STDMETHODCALLTYPE reserved26() override { return 0; }
    int32_t STDMETHODCALLTYPE reserved27() override { return 0; }
    int32_t STDMETHODCALLTYPE timerPeriod() override { return 0; }
    int32_t STDMETHODCALLTYPE reserved29() override { return 0; }
    int32_t STDMETHODCALLTYPE songInfo(int32_t, SongInfo*) override { return 1; }
    int32_t STDMETHODCALLTYPE setActive(uint32_t) override { return 0; }
    int32_t STDMETHODCALLTYPE handOverEvent(HostEvent e) override { return record("handOverEvent", e); }
    uint32_t STDMETHODCALLTYPE sysexLength(HostEvent) override { return 0; }
    const uint8_t* STDMETHODCALLTYPE sysexData(HostEvent) override { return nullptr; }

private:
    int32_t record(const char* what, HostEvent e) {
        calls.push_back(std::string(what) + " " + std::to_string(e));
        return 0;
    }
};
