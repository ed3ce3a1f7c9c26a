#include "TimeMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using Guard = ScopedLock;

int32_t saturate(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Microseconds per tick are 6e9 / (tempo × timeBase); kept exact as a fraction.
constexpr int64_t kMicrosPerMinuteTimes100 = 6000000000LL;

}  // namespace

TimeMap::TimeMap() { clear(); }

void TimeMap::clear() {
    Guard g(lock_);
    timeBase_ = 480;
    tempos_ = {{0, 12000}};
    meters_ = {{0, 4, 4, 0}};
}

bool TimeMap::setTimeBase(int32_t ticksPerQuarter) {
    Guard g(lock_);
    if (ticksPerQuarter < 1) return false;
    for (const Meter& m : meters_)
        if (int64_t(ticksPerQuarter) * 4 / m.denominator < 1) return false;
    timeBase_ = ticksPerQuarter;
    renumberMeters();
    return true;
}

int32_t TimeMap::timeBase() const {
    Guard g(lock_);
    return timeBase_;
}

bool TimeMap::addTempo(int32_t time, int32_t tempo) {
    Guard g(lock_);
    if (tempo < 1 || time < 0) return false;
    auto it = std::lower_bound(tempos_.begin(), tempos_.end(), time,
                               [](const Tempo& t, int32_t v) { return t.time < v; });
    if (it != tempos_.end() && it->time == time)
        it->tempo = tempo;
    else
        tempos_.insert(it, {time, tempo});
    return true;
}

bool TimeMap::addMeter(int32_t time, int32_t numerator, int32_t denominator) {
    Guard g(lock_);
    bool powerOfTwo = denominator >= 1 && denominator <= 64 && (denominator & (denominator - 1)) == 0;
    if (time < 0 || numerator < 1 || !powerOfTwo || int64_t(timeBase_) * 4 / denominator < 1)
        return false;
    auto it = std::lower_bound(meters_.begin(), meters_.end(), time,
                               [](const Meter& m, int32_t v) { return m.time < v; });
    if (it != meters_.end() && it->time == time) {
        it->numerator = numerator;
        it->denominator = denominator;
    } else {
        meters_.insert(it, {time, numerator, denominator, 0});
    }
    renumberMeters();
    return true;
}

int64_t TimeMap::ticksPerBeat(const Meter& m) const { return int64_t(timeBase_) * 4 / m.denominator; }

void TimeMap::renumberMeters() {
    meters_[0].firstMeasure = 0;
    for (size_t i = 1; i < meters_.size(); ++i) {
        const Meter& p = meters_[i - 1];
        int64_t length = ticksPerBeat(p) * p.numerator;
        int64_t span = int64_t(meters_[i].time) - p.time;
        // A change inside a measure still starts a new one: the cut measure counts.
        meters_[i].firstMeasure = saturate(p.firstMeasure + (span + length - 1) / length);
    }
}

// ---- tempo ----

int32_t TimeMap::tempoIndexLocked(int32_t time) const {
    auto it = std::upper_bound(tempos_.begin(), tempos_.end(), time,
                               [](int32_t v, const Tempo& t) { return v < t.time; });
    return it == tempos_.begin() ? 0 : static_cast<int32_t>(it - tempos_.begin()) - 1;
}

int32_t TimeMap::tempoIndexAt(int32_t time) const {
    Guard g(lock_);
    return tempoIndexLocked(time);
}

int32_t TimeMap::tempoAt(int32_t time) const {
    Guard g(lock_);
    return tempos_[tempoIndexLocked(time)].tempo;
}

int32_t TimeMap::tempoCount() const {
    Guard g(lock_);
    return static_cast<int32_t>(tempos_.size());
}

bool TimeMap::tempoEntry(int32_t index, Tempo* out) const {
    Guard g(lock_);
    if (!out || index < 0 || index >= static_cast<int32_t>(tempos_.size())) return false;
    *out = tempos_[index];
    return true;
}

int32_t TimeMap::timeToRealTime(int32_t time) const {
    Guard g(lock_);
    // Sum whole segments in exact microseconds as a double: 2^53 is far beyond 32 bits.
    double micros = 0;
    int32_t index = tempoIndexLocked(time);
    for (int32_t i = 0; i < index; ++i) {
        double ticks = double(tempos_[i + 1].time) - tempos_[i].time;
        micros += ticks * kMicrosPerMinuteTimes100 / (double(tempos_[i].tempo) * timeBase_);
    }
    double ticks = double(time) - tempos_[index].time;
    micros += ticks * kMicrosPerMinuteTimes100 / (double(tempos_[index].tempo) * timeBase_);
    double r = std::floor(micros + 0.5);
    if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

int32_t TimeMap::realTimeToTime(int32_t realTime) const {
    Guard g(lock_);
    double start = 0;  // real time at the start of segment i
    size_t i = 0;
    for (; i + 1 < tempos_.size(); ++i) {
        double ticks = double(tempos_[i + 1].time) - tempos_[i].time;
        double length = ticks * kMicrosPerMinuteTimes100 / (double(tempos_[i].tempo) * timeBase_);
        if (realTime < start + length) break;
        start += length;
    }
    double ticks = (realTime - start) * double(tempos_[i].tempo) * timeBase_ / kMicrosPerMinuteTimes100;
    double t = std::floor(tempos_[i].time + ticks + 0.5);
    if (t > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (t < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(t);
}

// ---- meter ----

int32_t TimeMap::meterIndexLocked(int32_t time) const {
    auto it = std::upper_bound(meters_.begin(), meters_.end(), time,
                               [](int32_t v, const Meter& m) { return v < m.time; });
    return it == meters_.begin() ? 0 : static_cast<int32_t>(it - meters_.begin()) - 1;
}

TimeMap::Meter TimeMap::meterAt(int32_t time) const {
    Guard g(lock_);
    return meters_[meterIndexLocked(time)];
}

std::vector<TimeMap::Meter> TimeMap::meters() const {
    Guard g(lock_);
    return meters_;
}

void TimeMap::timeToMeasure(int32_t time, int32_t* measure, int32_t* beat, int32_t* tick) const {
    Guard g(lock_);
    const Meter& m = meters_[meterIndexLocked(time)];
    int64_t beatLength = ticksPerBeat(m);
    int64_t length = beatLength * m.numerator;
    int64_t offset = int64_t(time) - m.time;
    int64_t whole = floorDiv(offset, length);
    int64_t rest = offset - whole * length;
    if (measure) *measure = saturate(m.firstMeasure + whole);
    if (beat) *beat = static_cast<int32_t>(rest / beatLength);
    if (tick) *tick = static_cast<int32_t>(rest % beatLength);
}

int32_t TimeMap::measureToTime(int32_t measure, int32_t beat, int32_t tick) const {
    Guard g(lock_);
    size_t i = 0;
    while (i + 1 < meters_.size() && meters_[i + 1].firstMeasure <= measure) ++i;
    const Meter& m = meters_[i];
    int64_t beatLength = ticksPerBeat(m);
    int64_t t = m.time + (int64_t(measure) - m.firstMeasure) * beatLength * m.numerator +
                int64_t(beat) * beatLength + tick;
    return saturate(t);
}
