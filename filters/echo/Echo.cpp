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

int64_t clockMicros() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart / frequency * 1000000 + t.QuadPart % frequency * 1000000 / frequency;
}

bool isNoteOn(const MfxShortEvent& e) { return (e.status & 0xF0) == 0x90 && e.data2 > 0; }
bool isNoteOff(const MfxShortEvent& e) { return (e.status & 0xF0) == 0x80 || (e.status & 0xF0) == 0x90; }

}  // namespace

const FilterDescription& Echo::description() { return kDescription; }

Echo::Echo() : SampleFilter(kDescription) {}

void Echo::hostChanged() {
    // A new host context starts with periodic calls off; what waited was for the old one.
    sounding_.clear();
    scheduled_.clear();
    timerOn_ = false;
    queryTimeBase();
}

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

    const double step = stepTicks();
    for (int32_t i = 0; i < count; ++i) {
        MfxEvent e;
        if (in->get(i, &e) != S_OK) continue;
        result.push_back(e);
        if (e.type != MfxNote || e.data[1] == 0) continue;
        const std::vector<uint8_t> velocities = repeatVelocities(e.data[1]);
        for (size_t r = 1; r <= velocities.size(); ++r) {
            int64_t t = static_cast<int64_t>(e.time) + std::llround(r * step);
            if (t > INT32_MAX) break;
            MfxEvent repeat = e;
            repeat.time = static_cast<int32_t>(t);
            repeat.data[1] = velocities[r - 1];
            (repeat.time <= last ? result : held_).push_back(repeat);
        }
    }
    std::stable_sort(result.begin(), result.end(), earlier);
    for (const MfxEvent& e : result) out->add(&e);
    return S_OK;
}

std::vector<uint8_t> Echo::repeatVelocities(uint8_t velocity) const {
    const double keep = (100 - parameter(DecayPercent)) / 100.0;
    std::vector<uint8_t> out;
    for (int32_t r = 1; r <= parameter(Repeats); ++r) {
        long v = std::lround(velocity * std::pow(keep, r));
        if (v < 1) break;
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

double Echo::stepTicks() const { return parameter(StepHundredths) * static_cast<double>(timeBase_) / 100.0; }

// The host's own conversion from the current position, so tempo changes ahead count;
// without one (or with an answer that makes no sense) the beat is 120 BPM.
std::vector<int64_t> Echo::repeatOffsets() {
    const int32_t repeats = parameter(Repeats);
    std::vector<int64_t> offsets;
    ComRef<IMfxTempoQuery> tempo;
    if (host() && host()->QueryInterface(mfxid::IMfxTempoQuery, tempo.putVoid()) == S_OK && tempo) {
        int32_t position = 0, bpm = 0;
        if (tempo->tempoEntry(-1, &position, &bpm) != S_OK) position = 0;
        const int32_t start = tempo->toRealTime(position);
        for (int32_t r = 1; r <= repeats; ++r) {
            int64_t t = static_cast<int64_t>(position) + std::llround(r * stepTicks());
            int64_t ms = t > INT32_MAX ? 0 : static_cast<int64_t>(tempo->toRealTime(static_cast<int32_t>(t))) - start;
            if (ms <= 0 || (!offsets.empty() && ms * 1000 < offsets.back())) break;
            offsets.push_back(ms * 1000);
        }
        if (static_cast<int32_t>(offsets.size()) == repeats) return offsets;
        offsets.clear();
    }
    const int64_t step = static_cast<int64_t>(parameter(StepHundredths)) * 5000;  // 500 ms a beat
    for (int32_t r = 1; r <= repeats; ++r) offsets.push_back(r * step);
    return offsets;
}

void Echo::schedule(int64_t due, const MfxShortEvent& event) {
    auto at = std::upper_bound(scheduled_.begin(), scheduled_.end(), due,
                               [](int64_t t, const LiveRepeat& r) { return t < r.due; });
    scheduled_.insert(at, LiveRepeat{due, event});
}

void Echo::startRepeats(const MfxShortEvent& note, int64_t now) {
    const std::vector<uint8_t> velocities = repeatVelocities(note.data2);
    std::vector<int64_t> offsets = repeatOffsets();
    offsets.resize(velocities.size());
    for (size_t r = 0; r < offsets.size(); ++r) {
        MfxShortEvent repeat = note;
        repeat.data2 = velocities[r];
        schedule(now + offsets[r], repeat);
    }
    sounding_.push_back(LiveNote{note.status, note.data1, now, std::move(offsets)});
}

void Echo::endRepeats(const MfxShortEvent& off, int64_t now) {
    for (auto n = sounding_.begin(); n != sounding_.end(); ++n) {
        if ((n->status & 0x0F) != (off.status & 0x0F) || n->key != off.data1) continue;
        const int64_t length = now - n->on;
        for (int64_t offset : n->offsets) schedule(n->on + offset + length, off);
        sounding_.erase(n);
        return;
    }
}

void Echo::updateTimer() {
    const bool want = !scheduled_.empty();
    if (want == timerOn_ || !host()) return;
    ComRef<IMfxTimerControl> timer;
    if (host()->QueryInterface(mfxid::IMfxTimerControl, timer.putVoid()) != S_OK || !timer) return;
    if ((want ? timer->startTimer() : timer->stopTimer()) == S_OK) timerOn_ = want;
}

// The periodic calls come with an empty input: repeats whose time has come go out first.
HRESULT STDMETHODCALLTYPE Echo::filterLiveEvents(IMfxShortEventList* in, IMfxShortEventList* out) {
    if (!in || !out) return E_POINTER;
    int32_t count = 0;
    if (FAILED(in->count(&count))) return E_FAIL;
    const int64_t now = clockMicros();
    size_t due = 0;
    while (due < scheduled_.size() && scheduled_[due].due <= now) out->add(&scheduled_[due++].event);
    scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<std::ptrdiff_t>(due));
    for (int32_t i = 0; i < count; ++i) {
        MfxShortEvent e;
        if (in->get(i, &e) != S_OK) continue;
        out->add(&e);
        if (e.data1 > 127) continue;
        if (isNoteOn(e))
            startRepeats(e, now);
        else if (isNoteOff(e))
            endRepeats(e, now);
    }
    updateTimer();
    return S_OK;
}
