// A small real host: the context object a module's initialize is given. One COM
// object with one count; the event, time and transport interfaces are ports of it.
//
// Unit choices (see TimeMap.h): tempo in BPM × 100, real time in microseconds.
// songInfo writes tempo at bytes 0-3, the meter numerator at 40-41 and twice the
// denominator at 42-43 (the module halves that field), the rest zero.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "EventStore.h"
#include "TimeMap.h"
#include "WinSync.h"
#include "interfaces/HostInterfaces.h"

class ReferenceHost : public IUnknown {
public:
    enum class Interface { Unknown, MidiModuleHost, EventServices, TimeConversion, Transport };

    // A slot called on the event interface where it means nothing there.
    struct Misdirected {
        Via via;
        int32_t slot;
    };

    // Count 1, owned by the creator; must live on the heap (Release deletes it).
    ReferenceHost();
    virtual ~ReferenceHost();
    ReferenceHost(const ReferenceHost&) = delete;
    ReferenceHost& operator=(const ReferenceHost&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Switches an interface off (QueryInterface answers E_NOINTERFACE) or on.
    void offer(Interface which, bool on);
    bool offered(Interface which) const;
    // Successful QueryInterface calls for one interface.
    int32_t queryCount(Interface which) const;
    long refCount() const { return count_; }

    // What initialize is given, and uncounted pointers for direct calls.
    IUnknown* context() { return this; }
    IMidiModuleHost* moduleHost() { return &midiPort_; }
    IHostEventServices* eventServices() { return &servicesPort_; }
    IHostTimeConversion* timeConversion() { return &timePort_; }
    IHostTransport* transport() { return &transportPort_; }

    EventStore& events() { return store_; }
    TimeMap& timeMap() { return timeMap_; }
    bool setTimeBase(int32_t ticksPerQuarter) { return timeMap_.setTimeBase(ticksPerQuarter); }
    bool addTempo(int32_t time, int32_t tempo) { return timeMap_.addTempo(time, tempo); }
    bool addMeter(int32_t time, int32_t numerator, int32_t denominator) {
        return timeMap_.addMeter(time, numerator, denominator);
    }

    void setPosition(int32_t time) { position_ = time; }
    int32_t position() const { return position_; }
    // What timerPeriod answers; 0 (the default) means none.
    void setTimerPeriod(int32_t period) { timerPeriod_ = period; }
    int32_t setActiveCalls() const { return setActiveCalls_; }
    uint32_t lastActiveFlag() const { return lastActive_; }
    // Fills the record for time; false (nothing written) for a null record.
    bool fillSongInfo(int32_t time, SongInfo* out) const;

    // The performance counter at the first outputEventNow since the last reset (0: none since),
    // for the latency of the live path.
    void resetFirstOutputNow() { firstOutputNow_ = 0; }
    // Called after each outputEventNow, from inside it.
    std::function<void()> onOutputNow;
    int64_t firstOutputNow() const { return firstOutputNow_; }

    int32_t misdirectedCalls() const;
    std::vector<Misdirected> misdirected() const;

private:
    template <class Base, Via V>
    class EventPort : public Base {
    public:
        explicit EventPort(ReferenceHost* host) : host_(host) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            return host_->QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return host_->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return host_->Release(); }
        HostEvent STDMETHODCALLTYPE createEvent(uint32_t status, uint32_t d1, uint32_t d2,
                                                uint32_t duration) override {
            return store().createEvent(status, d1, d2, duration, V);
        }
        HostEvent STDMETHODCALLTYPE createSysexEvent(const uint8_t* bytes, uint32_t count) override {
            return store().createSysexEvent(bytes, count, V);
        }
        HostEvent STDMETHODCALLTYPE copyEvent(HostEvent e) override { return store().copyEvent(e, V); }
        int32_t STDMETHODCALLTYPE releaseEvent(HostEvent e) override { return store().releaseEvent(e, V); }
        int32_t STDMETHODCALLTYPE outputEvent(HostEvent e) override {
            return store().outputEvent(e, host_->position_, V);
        }
        int32_t STDMETHODCALLTYPE outputEventNow(HostEvent e) override {
            host_->stampOutputNow();
            const int32_t result = store().outputEventNow(e, host_->position_, V);
            // A host whose output path calls back into the module, as engines that
            // play output at once may; the test decides what it calls.
            if (host_->onOutputNow) host_->onOutputNow();
            return result;
        }
        int32_t STDMETHODCALLTYPE setEventTime(HostEvent e, int32_t t) override {
            return store().setEventTime(e, t, V);
        }
        int32_t STDMETHODCALLTYPE eventTime(HostEvent e) override { return store().eventTime(e); }
        int32_t STDMETHODCALLTYPE setEventDuration(HostEvent e, uint32_t d) override {
            return store().setEventDuration(e, d, V);
        }
        uint32_t STDMETHODCALLTYPE eventDuration(HostEvent e) override { return store().eventDuration(e); }
        int32_t STDMETHODCALLTYPE setLive(HostEvent e, uint32_t flag) override {
            return store().setLive(e, flag, V);
        }
        uint8_t STDMETHODCALLTYPE isLive(HostEvent e) override { return store().isLive(e); }
        int32_t STDMETHODCALLTYPE setEventChannel(HostEvent e, uint32_t c) override {
            return store().setEventChannel(e, c, V);
        }
        int32_t STDMETHODCALLTYPE eventChannel(HostEvent e) override { return store().eventChannel(e); }
        uint32_t STDMETHODCALLTYPE eventKind(HostEvent e) override { return store().eventKind(e); }
        int32_t STDMETHODCALLTYPE reserved18() override { return host_->misdirect(V, 18); }
        uint32_t STDMETHODCALLTYPE eventData1(HostEvent e) override { return store().eventData1(e); }
        int32_t STDMETHODCALLTYPE reserved20() override { return host_->misdirect(V, 20); }
        uint32_t STDMETHODCALLTYPE eventData2(HostEvent e) override { return store().eventData2(e); }
        int32_t STDMETHODCALLTYPE reserved22() override { return host_->misdirect(V, 22); }
        uint32_t STDMETHODCALLTYPE releaseVelocity(HostEvent e) override {
            return store().releaseVelocity(e);
        }
        int32_t STDMETHODCALLTYPE setReleaseVelocity(HostEvent e, uint32_t v) override {
            return store().setReleaseVelocity(e, v, V);
        }
        int32_t STDMETHODCALLTYPE reserved25() override { return host_->misdirect(V, 25); }
        int32_t STDMETHODCALLTYPE reserved26() override { return host_->misdirect(V, 26); }
        int32_t STDMETHODCALLTYPE reserved27() override { return host_->misdirect(V, 27); }
        int32_t STDMETHODCALLTYPE timerPeriod() override { return host_->timerPeriodVia(V); }
        int32_t STDMETHODCALLTYPE reserved29() override { return host_->misdirect(V, 29); }
        int32_t STDMETHODCALLTYPE songInfo(int32_t time, SongInfo* out) override {
            return host_->songInfoVia(V, time, out);
        }
        int32_t STDMETHODCALLTYPE setActive(uint32_t flag) override { return host_->setActiveVia(V, flag); }
        int32_t STDMETHODCALLTYPE handOverEvent(HostEvent e) override { return host_->handOverVia(V, e); }
        uint32_t STDMETHODCALLTYPE sysexLength(HostEvent e) override { return store().sysexLength(e); }
        const uint8_t* STDMETHODCALLTYPE sysexData(HostEvent e) override { return store().sysexData(e); }

    private:
        EventStore& store() { return host_->store_; }
        ReferenceHost* host_;
    };

    class TimePort : public IHostTimeConversion {
    public:
        explicit TimePort(ReferenceHost* host) : host_(host) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            return host_->QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return host_->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return host_->Release(); }
        int32_t STDMETHODCALLTYPE timeBase() override;
        int32_t STDMETHODCALLTYPE timeToRealTime(int32_t time) override;
        int32_t STDMETHODCALLTYPE realTimeToTime(int32_t realTime) override;
        int32_t STDMETHODCALLTYPE tempoCount() override;
        int32_t STDMETHODCALLTYPE tempoEntry(int32_t index, int32_t* time, int32_t* tempo) override;
        int32_t STDMETHODCALLTYPE tempoIndexAt(int32_t time) override;
        int32_t STDMETHODCALLTYPE timeToMeasure(int32_t time, int32_t* measure, int32_t* beat,
                                                int32_t* tick) override;
        int32_t STDMETHODCALLTYPE measureToTime(int32_t measure, int32_t beat, int32_t tick) override;

    private:
        ReferenceHost* host_;
    };

    class TransportPort : public IHostTransport {
    public:
        explicit TransportPort(ReferenceHost* host) : host_(host) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            return host_->QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return host_->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return host_->Release(); }
        int32_t STDMETHODCALLTYPE position() override { return host_->position_; }

    private:
        ReferenceHost* host_;
    };

    void stampOutputNow() {
        if (firstOutputNow_) return;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        firstOutputNow_ = now.QuadPart;
    }
    int32_t misdirect(Via via, int32_t slot);
    int32_t timerPeriodVia(Via via);
    int32_t songInfoVia(Via via, int32_t time, SongInfo* out);
    int32_t setActiveVia(Via via, uint32_t flag);
    int32_t handOverVia(Via via, HostEvent event);

    static constexpr int kInterfaces = 5;

    std::atomic<long> count_{1};
    EventPort<IMidiModuleHost, Via::MidiModuleHost> midiPort_{this};
    EventPort<IHostEventServices, Via::EventServices> servicesPort_{this};
    TimePort timePort_{this};
    TransportPort transportPort_{this};
    EventStore store_;
    TimeMap timeMap_;
    std::atomic<bool> offered_[kInterfaces];
    std::atomic<int32_t> queries_[kInterfaces];
    std::atomic<int32_t> position_{0};
    std::atomic<int32_t> timerPeriod_{0};
    std::atomic<int32_t> setActiveCalls_{0};
    std::atomic<uint32_t> lastActive_{0};
    std::atomic<int64_t> firstOutputNow_{0};
    mutable Lock misdirectedLock_;
    std::vector<Misdirected> misdirected_;
};
