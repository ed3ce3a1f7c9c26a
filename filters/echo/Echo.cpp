#include "echo/Echo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

const ParameterInfo kParameters[] = {
    {"Repeats", 1, 8, 3},
    {"Step (1/100 beat)", 1, 1600, 50},
    {"Decay (%)", 0, 100, 30},
};

const FilterDescription kDescription = {CLSID_Echo, CLSID_EchoPage, Echo::kStateMagic, 1, kParameters, 3};

bool earlier(const MfxEvent& a, const MfxEvent& b) { return a.time < b.time; }

}  // namespace

const FilterDescription& Echo::description() { return kDescription; }

Echo::Echo() : SampleFilter(kDescription) {}

void Echo::hostChanged() { queryTimeBase(); }

void Echo::queryTimeBase() {
    timeBase_ = kDefaultTimeBase;
    if (!host()) return;
    ComRef<IMfxTempoQuery> tempo;
    if (host()->QueryInterface(mfxid::IMfxTempoQuery, tempo.putVoid()) != S_OK || !tempo) return;
    int32_t base = tempo->timeBase();
    if (base > 0) timeBase_ = base;
}

HRESULT STDMETHODCALLTYPE Echo::beginPlayback(int32_t, IMfxEventList*) {
    held_.clear();
    queryTimeBase();
    return S_OK;
}

// After the jump, held repeats still sound as far after their note as before.
HRESULT STDMETHODCALLTYPE Echo::loopPlayback(int32_t restart, int32_t end, IMfxEventList*) {
    const int64_t length = static_cast<int64_t>(end) - restart;
    std::vector<MfxEvent> kept;
    for (MfxEvent e : held_) {
        int64_t t = e.time - length;
        if (t < restart) continue;
        e.time = static_cast<int32_t>(t);
        kept.push_back(e);
    }
    held_.swap(kept);
    return S_OK;
}

// Repeats after a stop would sound on a stopped transport: they are dropped.
HRESULT STDMETHODCALLTYPE Echo::endPlayback(int32_t, IMfxEventList*) {
    held_.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Echo::filterEvents(int32_t first, int32_t last, IMfxEventList* in, IMfxEventList* out) {
    if (!in || !out) return E_POINTER;
    int32_t count = 0;
    if (FAILED(in->count(&count))) return E_FAIL;

    std::vector<MfxEvent> result;
    std::vector<MfxEvent> still;
    for (const MfxEvent& e : held_) (e.time <= last ? result : still).push_back(e);
    held_.swap(still);

    const int32_t repeats = parameter(Repeats);
    const double step = parameter(StepHundredths) * static_cast<double>(timeBase_) / 100.0;
    const double keep = (100 - parameter(DecayPercent)) / 100.0;
    for (int32_t i = 0; i < count; ++i) {
        MfxEvent e;
        if (in->get(i, &e) != S_OK) continue;
        result.push_back(e);
        if (e.type != MfxNote || e.data[1] == 0) continue;
        for (int32_t r = 1; r <= repeats; ++r) {
            long velocity = std::lround(e.data[1] * std::pow(keep, r));
            if (velocity < 1) break;
            int64_t t = static_cast<int64_t>(e.time) + std::llround(r * step);
            if (t > INT32_MAX) break;
            MfxEvent repeat = e;
            repeat.time = static_cast<int32_t>(t);
            repeat.data[1] = static_cast<uint8_t>(velocity);
            (repeat.time <= last ? result : held_).push_back(repeat);
        }
    }
    std::stable_sort(result.begin(), result.end(), earlier);
    for (const MfxEvent& e : result) out->add(&e);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Echo::filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) {
    if (!in || !out) return E_POINTER;
    int32_t count = 0;
    if (FAILED(in->count(&count))) return E_FAIL;
    for (int32_t i = 0; i < count; ++i) {
        MfxShortEvent e;
        if (in->get(i, &e) == S_OK) out->add(&e);
    }
    return S_OK;
}
