#include "TestFilter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace testfilter {
namespace {

std::vector<TestFilter*>& liveFilters() {
    static std::vector<TestFilter*>* v = new std::vector<TestFilter*>;
    return *v;
}
TestFilter* attached = nullptr;

const char* interfaceName(REFIID iid) {
    struct Known {
        const GUID* iid;
        const char* name;
    } known[] = {
        {&comid::IUnknown, "IUnknown"},
        {&mfxid::IMfxFilterPlugin, "IMfxFilterPlugin"},
        {&mfxid::IMfxOutputConnect, "IMfxOutputConnect"},
        {&comid::ISpecifyPropertyPages, "ISpecifyPropertyPages"},
        {&comid::IPersistStream, "IPersistStream"},
        {&IID_IPersist, "IPersist"},
    };
    for (const Known& k : known)
        if (IsEqualGUID(iid, *k.iid)) return k.name;
    return nullptr;
}

uint8_t clampKey(int32_t key) { return static_cast<uint8_t>(std::min(127, std::max(0, key))); }

std::vector<MfxEvent> readList(IMfxEventList* list) {
    std::vector<MfxEvent> events;
    int32_t n = 0;
    if (!list || list->count(&n) != S_OK) return events;
    for (int32_t i = 0; i < n; ++i) {
        MfxEvent e{};
        if (list->get(i, &e) == S_OK) events.push_back(e);
    }
    return events;
}

std::vector<MfxShortEvent> readShortList(IMfxShortEventList* list) {
    std::vector<MfxShortEvent> events;
    int32_t n = 0;
    if (!list || list->count(&n) != S_OK) return events;
    for (int32_t i = 0; i < n; ++i) {
        MfxShortEvent e{};
        if (list->get(i, &e) == S_OK) events.push_back(e);
    }
    return events;
}

template <class I>
ComRef<I> queryFrom(IUnknown* unknown, REFIID iid, int32_t* result) {
    ComRef<I> ref;
    HRESULT hr = unknown ? unknown->QueryInterface(iid, ref.putVoid()) : E_POINTER;
    if (result) *result = hr;
    return ref;
}

}  // namespace

TestFilter::TestFilter(const GUID& clsid) : clsid_(clsid), serial_(++state().filterSerial) {
    InterlockedIncrement(&state().filtersAlive);
    ++state().filtersCreated;
    liveFilters().push_back(this);
}

TestFilter::~TestFilter() {
    if (attached == this) attached = nullptr;
    auto& live = liveFilters();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    if (host_) InterlockedDecrement(&state().hostRefsHeld);
    InterlockedDecrement(&state().filtersAlive);
}

TestFilter* TestFilter::current() { return attached; }

int32_t TestFilter::serialOf(IUnknown* unknown) {
    for (TestFilter* f : liveFilters())
        if (static_cast<IUnknown*>(static_cast<IMfxFilterPlugin*>(f)) == unknown) return f->serial_;
    return 0;
}

size_t TestFilter::note(int32_t site, const std::string& text, std::initializer_list<int32_t> args) {
    return logCall(serial_, site, clsid_, text, args);
}

void TestFilter::actAndRaise(int32_t site, std::initializer_list<IUnknown*> args) {
    runActions(site);
    if (misbehaviour(site) == TfMisReenter) reenter();
    misbehaveWith(site, args);
    // Nothing of ours that needs a destructor is alive past this point.
    raiseIfScripted(site);
}

void TestFilter::reenter() {
    queryHost();
    startTimer();
    MfxEvent note{};
    note.channel = 0;
    note.type = MfxNote;
    note.data[0] = 64;
    note.data[1] = 90;
    mfxdata::setNoteDuration(note, 10);
    sendEvent(&note);
    stopTimer();
}

void TestFilter::runActions(int32_t site) {
    // Copied: an action may call back into code that scripts us.
    std::vector<ScriptedAction> actions = state().actions[site];
    for (const ScriptedAction& a : actions) {
        switch (a.action) {
        case TfActionStartTimer: startTimer(); break;
        case TfActionStopTimer: stopTimer(); break;
        case TfActionSendEvent: sendEvent(&a.event); break;
        case TfActionQueryHost: queryHost(); break;
        default: break;
        }
    }
}

void TestFilter::addGarbage(IMfxEventList* out) {
    MfxEvent e{};
    e.type = 0x77;  // no such type
    out->add(&e);
    e.type = MfxNote;
    e.channel = 200;
    e.data[0] = 60;
    e.data[1] = 100;
    out->add(&e);
    e.channel = 0xFF;
    e.type = MfxSysex;
    mfxdata::setBlockHandle(e, 0x00ABC000);  // invented
    out->add(&e);
    mfxdata::setBlockHandle(e, state().lastInputBlock);  // freed since it came in
    out->add(&e);
    e.type = MfxController;
    e.channel = 0;
    for (int32_t i = 0; i < 10000; ++i) {
        e.time = i;
        e.data[0] = uint8_t(i % 120);
        e.data[1] = uint8_t(i % 128);
        out->add(&e);
    }
}

void TestFilter::addFixedOutput(int32_t site, IMfxEventList* out) {
    if (!out) return;
    if (misbehaviour(site) == TfMisGarbage) addGarbage(out);
    for (const MfxEvent& e : state().outputs[site]) out->add(&e);
    for (const ControlState::Sysex& s : state().sysexOutputs[site]) {
        ComRef<IMfxSysexAllocator> allocator;
        SysexHandle block = 0;
        uint8_t* data = nullptr;
        uint32_t size = 0;
        if (out->allocator(allocator.put()) != S_OK || !allocator) continue;
        if (allocator->create(static_cast<uint32_t>(s.data.size()), &block) != S_OK) continue;
        if (allocator->getData(block, &data, &size) != S_OK || size != s.data.size()) continue;
        if (size) std::memcpy(data, s.data.data(), size);
        MfxEvent e{};
        e.time = s.time;
        e.channel = 0xFF;
        e.type = MfxSysex;
        mfxdata::setBlockHandle(e, block);
        out->add(&e);
    }
}

HRESULT TestFilter::QueryInterface(REFIID iid, void** out) {
    if (state().logQueries) {
        const char* name = interfaceName(iid);
        note(TfQueryInterface, format("QueryInterface(%s)", name ? name : guidText(iid).c_str()));
    }
    if (!out) return E_POINTER;
    *out = nullptr;
    int32_t has = state().interfaces;
    if (IsEqualGUID(iid, comid::IUnknown) || IsEqualGUID(iid, mfxid::IMfxFilterPlugin)) {
        *out = static_cast<IMfxFilterPlugin*>(this);
        AddRef();
        return S_OK;
    }
    // A scripted raise hits the queries for the optional interfaces only, so that the
    // filter itself can still be made.
    raiseIfScripted(TfQueryInterface);
    if (IsEqualGUID(iid, mfxid::IMfxOutputConnect) && (has & TfHasOutputConnect))
        *out = static_cast<IMfxOutputConnect*>(this);
    else if (IsEqualGUID(iid, comid::ISpecifyPropertyPages) && (has & TfHasPropertyPages))
        *out = static_cast<ISpecifyPropertyPages*>(this);
    else if ((IsEqualGUID(iid, comid::IPersistStream) || IsEqualGUID(iid, IID_IPersist)) &&
             (has & TfHasPersistStream))
        *out = static_cast<IPersistStream*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG TestFilter::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG TestFilter::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n != 0) return static_cast<ULONG>(n);
    note(TfDestroy, "destroy");
    delete this;
    raiseIfScripted(TfDestroy);
    return 0;
}

HRESULT TestFilter::attachHost(IUnknown* host) {
    note(TfAttachHost, host ? "attachHost(host)" : "attachHost(null)");
    HRESULT hr = scriptedResult(TfAttachHost);
    if (hr == S_OK && host) {
        if (!host_) InterlockedIncrement(&state().hostRefsHeld);
        host->AddRef();
        host_.reset(host);
        attached = this;
    }
    actAndRaise(TfAttachHost, {host});
    return hr;
}

HRESULT TestFilter::detachHost() {
    note(TfDetachHost, "detachHost");
    actAndRaise(TfDetachHost);
    if (host_) InterlockedDecrement(&state().hostRefsHeld);
    host_.reset();
    output_.reset();
    if (attached == this) attached = nullptr;
    return scriptedResult(TfDetachHost);
}

HRESULT TestFilter::setEventOutput(IMfxEventOutput* output) {
    note(TfSetEventOutput, output ? "setEventOutput(output)" : "setEventOutput(null)");
    actAndRaise(TfSetEventOutput);
    if (output) output->AddRef();
    output_.reset(output);
    misbehaveWith(TfSetEventOutput, {output});
    return scriptedResult(TfSetEventOutput);
}

HRESULT TestFilter::beginPlayback(int32_t time, IMfxEventList* out) {
    note(TfBeginPlayback, format("beginPlayback(%d)", time), {time});
    actAndRaise(TfBeginPlayback, {out});
    addFixedOutput(TfBeginPlayback, out);
    return scriptedResult(TfBeginPlayback);
}

HRESULT TestFilter::loopPlayback(int32_t restart, int32_t end, IMfxEventList* out) {
    note(TfLoopPlayback, format("loopPlayback(%d,%d)", restart, end), {restart, end});
    actAndRaise(TfLoopPlayback, {out});
    addFixedOutput(TfLoopPlayback, out);
    return scriptedResult(TfLoopPlayback);
}

HRESULT TestFilter::endPlayback(int32_t time, IMfxEventList* out) {
    note(TfEndPlayback, format("endPlayback(%d)", time), {time});
    actAndRaise(TfEndPlayback, {out});
    addFixedOutput(TfEndPlayback, out);
    return scriptedResult(TfEndPlayback);
}

HRESULT TestFilter::filterEvents(int32_t first, int32_t last, IMfxEventList* in, IMfxEventList* out) {
    std::vector<MfxEvent> input = readList(in);
    for (const MfxEvent& e : input)
        if (e.type == MfxSysex) state().lastInputBlock = mfxdata::blockHandle(e);
    logEvents(note(TfFilterEvents, format("filterEvents(%d,%d)", first, last), {first, last}), std::move(input));
    actAndRaise(TfFilterEvents, {in, out});
    if (!out) return E_POINTER;
    if (state().mode != TfSwallow) {
        int32_t n = 0;
        if (in && in->count(&n) == S_OK) {
            for (int32_t i = 0; i < n; ++i) {
                MfxEvent e{};
                if (in->get(i, &e) != S_OK) continue;
                if (state().mode == TfTranspose && (e.type == MfxNote || e.type == MfxKeyAftertouch))
                    e.data[0] = clampKey(e.data[0] + state().transpose);
                out->add(&e);
            }
        }
    }
    addFixedOutput(TfFilterEvents, out);
    return scriptedResult(TfFilterEvents);
}

HRESULT TestFilter::filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) {
    logShortEvents(note(TfFilterLiveEvents, "filterLiveEvents"), readShortList(in));
    actAndRaise(TfFilterLiveEvents, {in, out});
    if (!out) return E_POINTER;
    if (state().mode != TfSwallow) {
        int32_t n = 0;
        if (in && in->count(&n) == S_OK) {
            for (int32_t i = 0; i < n; ++i) {
                MfxShortEvent e{};
                if (in->get(i, &e) != S_OK) continue;
                uint8_t kind = e.status & 0xF0;
                if (state().mode == TfTranspose && (kind == 0x80 || kind == 0x90 || kind == 0xA0))
                    e.data1 = clampKey(e.data1 + state().transpose);
                out->add(&e);
            }
        }
    }
    for (const MfxShortEvent& e : state().shortOutputs) out->add(&e);
    if (misbehaviour(TfFilterLiveEvents) == TfMisGarbage) {
        // Running status without a status, a lone end of sysex, channel bits of a system message.
        for (uint8_t status : {0x00, 0x45, 0xF7, 0xF0, 0xFF, 0xF5}) {
            MfxShortEvent e{};
            e.status = status;
            e.data1 = 200;
            e.data2 = 255;
            out->add(&e);
        }
    }
    return scriptedResult(TfFilterLiveEvents);
}

HRESULT TestFilter::GetPages(CAUUID* pages) {
    note(TfGetPages, "GetPages");
    actAndRaise(TfGetPages);
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    HRESULT hr = scriptedResult(TfGetPages);
    if (hr != S_OK) return hr;
    const std::vector<GUID>& list = state().pageList;
    if (list.empty()) return S_OK;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(list.size() * sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    std::copy(list.begin(), list.end(), pages->pElems);
    pages->cElems = static_cast<ULONG>(list.size());
    return S_OK;
}

HRESULT TestFilter::GetClassID(CLSID* clsid) {
    note(TfGetClassID, "GetClassID");
    actAndRaise(TfGetClassID);
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT TestFilter::IsDirty() {
    note(TfIsDirty, "IsDirty");
    actAndRaise(TfIsDirty);
    return S_FALSE;
}

void TestFilter::readLoad(IStream* stream) {
    TfLoadInfo& info = state().loadInfo;
    ++info.loads;
    info.entryPosition = -1;
    info.statResult = E_POINTER;
    info.statSize = -1;
    info.bytesRead = 0;
    state().loadedBytes.clear();
    if (!stream) return;
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    if (stream->Seek(zero, STREAM_SEEK_CUR, &position) == S_OK)
        info.entryPosition = static_cast<int32_t>(position.LowPart);
    STATSTG stat{};
    info.statResult = stream->Stat(&stat, STATFLAG_NONAME);
    if (stat.pwcsName) CoTaskMemFree(stat.pwcsName);
    if (info.statResult == S_OK) info.statSize = static_cast<int32_t>(stat.cbSize.LowPart);
    uint8_t buffer[4096];
    for (int rounds = 0; rounds < 256; ++rounds) {
        ULONG got = 0;
        HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
        state().loadedBytes.insert(state().loadedBytes.end(), buffer, buffer + std::min<ULONG>(got, sizeof buffer));
        if (hr != S_OK || got < sizeof buffer) break;
    }
    info.bytesRead = static_cast<int32_t>(state().loadedBytes.size());
}

HRESULT TestFilter::Load(IStream* stream) {
    readLoad(stream);
    const TfLoadInfo& info = state().loadInfo;
    note(TfLoad, format("Load(pos=%d,size=%d,read=%d)", info.entryPosition, info.statSize, info.bytesRead),
         {info.entryPosition, info.statSize, info.bytesRead});
    actAndRaise(TfLoad, {stream});
    if (!stream) return E_POINTER;
    return scriptedResult(TfLoad);
}

HRESULT TestFilter::Save(IStream* stream, BOOL clearDirty) {
    note(TfSave, format("Save(%d)", clearDirty ? 1 : 0), {clearDirty ? 1 : 0});
    actAndRaise(TfSave, {stream});
    if (!stream) return E_POINTER;
    HRESULT hr = scriptedResult(TfSave);
    if (hr != S_OK) return hr;
    ULONG written = 0;
    int32_t saves = state().saves++;
    if (state().saveMode == TfSaveCounting) {
        const uint8_t counted[7] = {'C', 'N', 'T', uint8_t(saves), uint8_t(saves >> 8), uint8_t(saves >> 16),
                                    uint8_t(saves >> 24)};
        return stream->Write(counted, sizeof counted, &written);
    }
    if (state().saveMode == TfSaveSeekBack) {
        const uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        const uint8_t three[3] = {0xA0, 0xA1, 0xA2};
        LARGE_INTEGER two{};
        two.QuadPart = 2;
        if ((hr = stream->Write(ten, sizeof ten, &written)) != S_OK) return hr;
        if ((hr = stream->Seek(two, STREAM_SEEK_SET, nullptr)) != S_OK) return hr;
        return stream->Write(three, sizeof three, &written);
    }
    const std::vector<uint8_t>& bytes = state().saveBytes;
    if (bytes.empty()) return S_OK;
    return stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
}

HRESULT TestFilter::GetSizeMax(ULARGE_INTEGER* size) {
    note(TfGetSizeMax, "GetSizeMax");
    actAndRaise(TfGetSizeMax);
    if (!size) return E_POINTER;
    size->QuadPart = state().saveMode == TfSaveSeekBack ? 10 : state().saveBytes.size();
    return S_OK;
}

HRESULT TestFilter::startTimer() {
    int32_t hr;
    ComRef<IMfxTimerControl> timer = queryFrom<IMfxTimerControl>(host_.get(), mfxid::IMfxTimerControl, &hr);
    return timer ? timer->startTimer() : hr;
}

HRESULT TestFilter::stopTimer() {
    int32_t hr;
    ComRef<IMfxTimerControl> timer = queryFrom<IMfxTimerControl>(host_.get(), mfxid::IMfxTimerControl, &hr);
    return timer ? timer->stopTimer() : hr;
}

HRESULT TestFilter::sendEvent(const MfxEvent* e) {
    if (output_) return output_->sendEvent(0, e);
    int32_t hr;
    ComRef<IMfxEventOutput> output = queryFrom<IMfxEventOutput>(host_.get(), mfxid::IMfxEventOutput, &hr);
    return output ? output->sendEvent(0, e) : hr;
}

HRESULT TestFilter::queryHost() {
    TfHostInfo& h = state().hostInfo;
    int32_t queries = h.queries + 1;
    fillUntouched(h);
    h.queries = queries;
    h.probeTime = state().probeTime;
    if (!host_) return E_UNEXPECTED;
    const int32_t t = h.probeTime;
    IUnknown* host = host_.get();
    ComRef<IMfxTempoQuery> tempo = queryFrom<IMfxTempoQuery>(host, mfxid::IMfxTempoQuery, &h.qiResult[0]);
    ComRef<IMfxMeterQuery> meter = queryFrom<IMfxMeterQuery>(host, mfxid::IMfxMeterQuery, &h.qiResult[1]);
    ComRef<IMfxKeyQuery> key = queryFrom<IMfxKeyQuery>(host, mfxid::IMfxKeyQuery, &h.qiResult[2]);
    ComRef<IMfxNameProvider> names = queryFrom<IMfxNameProvider>(host, mfxid::IMfxNameProvider, &h.qiResult[3]);
    ComRef<IMfxTimerControl> timer = queryFrom<IMfxTimerControl>(host, mfxid::IMfxTimerControl, &h.qiResult[4]);
    ComRef<IMfxEventOutput> output = queryFrom<IMfxEventOutput>(host, mfxid::IMfxEventOutput, &h.qiResult[5]);
    ComRef<IMfxHostProperties> properties =
        queryFrom<IMfxHostProperties>(host, mfxid::IMfxHostProperties, &h.qiResult[6]);
    if (tempo) {
        h.timeBase = tempo->timeBase();
        h.tempoCount = tempo->tempoCount();
        h.tempoIndexAt = tempo->tempoIndexAt(t);
        h.toRealTime = tempo->toRealTime(t);
        h.fromRealTime = tempo->fromRealTime(t);
        h.tempoEntryResult = tempo->tempoEntry(-1, &h.tempoEntryTime, &h.tempoEntryTempo);
    }
    if (meter) {
        h.timeToMeasureResult = meter->timeToMeasure(t, &h.measure, &h.beat, &h.tick);
        h.measureToTime = meter->measureToTime(1, 1, 0);
        h.meterIndexAt = meter->meterIndexAt(t);
        h.meterCount = meter->meterCount();
        h.meterEntryResult = meter->meterEntry(0, &h.meterTime, &h.numerator, &h.denominator);
    }
    if (key) {
        h.keyIndexAt = key->keyIndexAt(t);
        h.keyCount = key->keyCount();
        h.keyEntryResult = key->keyEntry(0, &h.keyFirst, &h.keySecond);
    }
    if (names) {
        HRESULT (STDMETHODCALLTYPE IMfxNameProvider::*kinds[3])(IMfxNameTableList**) = {
            &IMfxNameProvider::numberNameTables, &IMfxNameProvider::numberNameTables2,
            &IMfxNameProvider::controllerNameTables};
        for (int i = 0; i < 3; ++i) {
            ComRef<IMfxNameTableList> list;
            h.nameListResult[i] = (names.get()->*kinds[i])(list.put());
            if (list) list->count(&h.nameListCount[i]);
        }
    }
    if (timer) h.timerPeriodResult = timer->timerPeriod(&h.timerPeriod);
    if (properties) {
        int32_t record[3] = {3, 0, static_cast<int32_t>(0xCAFECAFE)};
        h.propertyResult = properties->getProperty(0, record);
        h.position = record[2];
    }
    return S_OK;
}

}  // namespace testfilter
