#include "EventStore.h"

#include <algorithm>
#include <utility>

namespace {

uint32_t kindOf(uint32_t status) { return status & 0xF0; }

// Channel kinds are 0x80 to 0xE0; system and data-byte statuses carry no channel.
int32_t channelOf(uint32_t status) {
    uint32_t s = status & 0xFF;
    return (s >= 0x80 && s < 0xF0) ? static_cast<int32_t>(s & 0x0F) : -1;
}

}  // namespace

EventStore::EventStore() { InitializeCriticalSection(&lock_); }

EventStore::~EventStore() { DeleteCriticalSection(&lock_); }

// ---- lookup and accounting ----

EventStore::Slot* EventStore::slotOf(HostEvent event) {
    return const_cast<Slot*>(static_cast<const EventStore*>(this)->slotOf(event));
}

const EventStore::Slot* EventStore::slotOf(HostEvent event) const {
    uint32_t index = (event & kIndexMask) - 1;  // index 0 wraps and fails the bound
    if (index >= slots_.size()) return nullptr;
    const Slot& slot = slots_[index];
    return slot.used && slot.generation == (event >> kIndexBits) + 1 ? &slot : nullptr;
}

Fault EventStore::classify(HostEvent event) const {
    uint32_t index = (event & kIndexMask) - 1;
    if (index >= slots_.size()) return Fault::UnknownHandle;
    const Slot& slot = slots_[index];
    uint32_t generation = (event >> kIndexBits) + 1;
    if (generation > slot.generation) return Fault::UnknownHandle;  // not issued yet
    return slot.used && generation == slot.generation ? Fault::None : Fault::StaleHandle;
}

void EventStore::erase(HostEvent event) {
    uint32_t index = (event & kIndexMask) - 1;
    Slot& slot = slots_[index];
    slot.used = false;
    slot.entry = Entry();  // frees sysex bytes now
    --used_;
    // A slot whose last generation is spent is never issued again.
    if (slot.generation < kGenerations) free_.push_back(index);
}

void EventStore::countFault(Fault fault) {
    switch (fault) {
    case Fault::UnknownHandle: ++unknownUses_; break;
    case Fault::StaleHandle: ++staleUses_; break;
    case Fault::DoubleRelease: ++doubleReleases_; break;
    case Fault::ForeignRelease: ++foreignReleases_; break;
    case Fault::CreateFailed: ++failedCreates_; break;
    case Fault::None: break;
    }
}

void EventStore::note(EventOp op, Via via, HostEvent handle, int64_t value, Fault fault,
                      HostEvent source) {
    ++sequence_;
    countFault(fault);
    if (journaling_) journal_.push_back({sequence_, op, via, handle, source, value, fault});
}

EventStore::Entry* EventStore::find(HostEvent event) {
    Fault fault = classify(event);
    if (fault != Fault::None) {
        countFault(fault);
        return nullptr;
    }
    return &slotOf(event)->entry;
}

const EventStore::Entry* EventStore::findQuiet(HostEvent event) const {
    const Slot* slot = slotOf(event);
    return slot ? &slot->entry : nullptr;
}

HostEvent EventStore::add(Entry entry) {
    uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() >= kIndexMask) return 0;  // every handle spent: never reuse one
        index = static_cast<uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    ++slot.generation;
    slot.used = true;
    slot.entry = std::move(entry);
    ++used_;
    return ((slot.generation - 1) << kIndexBits) | (index + 1);
}

HostEvent EventStore::moduleCreate(Entry entry, EventOp op, Via via) {
    HostEvent h = 0;
    if (failNext_ > 0) {
        --failNext_;
    } else {
        h = add(std::move(entry));
    }
    if (h == 0) {
        note(op, via, 0, 0, Fault::CreateFailed);
        return 0;
    }
    Origin origin = slotOf(h)->entry.origin;
    ++moduleLive_;
    ++(origin == Origin::Copied ? copied_ : created_);
    return h;
}

template <class F>
int32_t EventStore::set(HostEvent event, EventOp op, int64_t value, Via via, F apply) {
    Lock g(lock_);
    Fault fault = classify(event);
    note(op, via, event, value, fault);
    if (fault != Fault::None) return 1;
    apply(slotOf(event)->entry.data);
    return 0;
}

// ---- creation ----

HostEvent EventStore::createEvent(uint32_t status, uint32_t data1, uint32_t data2,
                                  uint32_t duration, Via via) {
    Lock g(lock_);
    Entry e;
    e.origin = Origin::Created;
    e.data.status = static_cast<uint8_t>(status);
    e.data.kind = kindOf(status & 0xFF);
    e.data.channel = channelOf(status);
    e.data.data1 = data1;
    e.data.data2 = data2;
    e.data.duration = duration;
    HostEvent h = moduleCreate(std::move(e), EventOp::Create, via);
    if (h) note(EventOp::Create, via, h, status, Fault::None);
    return h;
}

HostEvent EventStore::createSysexEvent(const uint8_t* bytes, uint32_t count, Via via) {
    Lock g(lock_);
    if (!bytes && count > 0) {
        note(EventOp::CreateSysex, via, 0, count, Fault::CreateFailed);
        return 0;
    }
    Entry e;
    e.origin = Origin::Created;
    e.data.status = 0xF0;
    e.data.kind = 0xF0;
    if (count) e.data.sysex.assign(bytes, bytes + count);
    HostEvent h = moduleCreate(std::move(e), EventOp::CreateSysex, via);
    if (h) note(EventOp::CreateSysex, via, h, count, Fault::None);
    return h;
}

HostEvent EventStore::copyEvent(HostEvent event, Via via) {
    Lock g(lock_);
    Fault fault = classify(event);
    if (fault != Fault::None) {
        note(EventOp::Copy, via, 0, 0, fault, event);
        return 0;
    }
    Entry e;
    e.data = slotOf(event)->entry.data;
    e.origin = Origin::Copied;
    HostEvent h = moduleCreate(std::move(e), EventOp::Copy, via);
    if (h) note(EventOp::Copy, via, h, 0, Fault::None, event);
    return h;
}

HostEvent EventStore::newNote(int32_t time, int32_t channel, uint32_t key, uint32_t velocity,
                              uint32_t duration, uint32_t releaseVelocity) {
    Lock g(lock_);
    Entry e;
    e.data.status = static_cast<uint8_t>(0x90 | (channel & 0x0F));
    e.data.kind = 0x90;
    e.data.channel = (channel >= 0 && channel <= 15) ? channel : -1;
    e.data.data1 = key;
    e.data.data2 = velocity;
    e.data.time = time;
    e.data.duration = duration;
    e.data.releaseVelocity = releaseVelocity;
    return add(std::move(e));
}

HostEvent EventStore::newEvent(int32_t time, uint32_t status, uint32_t data1, uint32_t data2) {
    Lock g(lock_);
    Entry e;
    e.data.status = static_cast<uint8_t>(status);
    e.data.kind = kindOf(status & 0xFF);
    e.data.channel = channelOf(status);
    e.data.data1 = data1;
    e.data.data2 = data2;
    e.data.time = time;
    return add(std::move(e));
}

HostEvent EventStore::newSysex(int32_t time, const std::vector<uint8_t>& bytes) {
    Lock g(lock_);
    Entry e;
    e.data.status = 0xF0;
    e.data.kind = 0xF0;
    e.data.time = time;
    e.data.sysex = bytes;
    return add(std::move(e));
}

bool EventStore::markLive(HostEvent event, bool live) {
    Lock g(lock_);
    Slot* slot = slotOf(event);
    if (!slot) return false;
    slot->entry.data.live = live;
    return true;
}

bool EventStore::discard(HostEvent event) {
    Lock g(lock_);
    Slot* slot = slotOf(event);
    if (!slot || slot->entry.origin != Origin::Host) return false;
    erase(event);
    return true;
}

void EventStore::failNextCreates(int32_t n) {
    Lock g(lock_);
    failNext_ = std::max<int32_t>(n, 0);
}

// ---- giving back and output ----

int32_t EventStore::giveBack(HostEvent event, EventOp op, int32_t hostPosition, Via via) {
    Fault fault = classify(event);
    if (fault == Fault::StaleHandle) fault = Fault::DoubleRelease;
    Slot* slot = fault == Fault::None ? slotOf(event) : nullptr;
    if (slot && slot->entry.origin == Origin::Host) fault = Fault::ForeignRelease;
    if (fault == Fault::None && op == EventOp::HandOver) {
        // Hand-over is an output too: record it before the event goes (its fields move).
        note(op, via, event, 0, fault);
        output_.push_back({sequence_, event, OutputKind::HandedOver, via, slot->entry.origin,
                           hostPosition, std::move(slot->entry.data), clockMicros()});
    } else {
        note(op, via, event, 0, fault);
    }
    if (fault != Fault::None) return 1;
    erase(event);
    --moduleLive_;
    ++(op == EventOp::HandOver ? handedOver_ : released_);
    return 0;
}

int32_t EventStore::releaseEvent(HostEvent event, Via via) {
    Lock g(lock_);
    return giveBack(event, EventOp::Release, 0, via);
}

int32_t EventStore::handOverEvent(HostEvent event, int32_t hostPosition, Via via) {
    Lock g(lock_);
    return giveBack(event, EventOp::HandOver, hostPosition, via);
}

int32_t EventStore::record(HostEvent event, OutputKind how, int32_t hostPosition, Via via,
                           EventOp op) {
    Lock g(lock_);
    Fault fault = classify(event);
    note(op, via, event, 0, fault);
    if (fault != Fault::None) return 1;
    const Entry& e = slotOf(event)->entry;
    output_.push_back({sequence_, event, how, via, e.origin, hostPosition, e.data, clockMicros()});
    return 0;
}

int32_t EventStore::outputEvent(HostEvent event, int32_t hostPosition, Via via) {
    return record(event, OutputKind::Timed, hostPosition, via, EventOp::Output);
}

int32_t EventStore::outputEventNow(HostEvent event, int32_t hostPosition, Via via) {
    return record(event, OutputKind::Now, hostPosition, via, EventOp::OutputNow);
}

// ---- fields ----

int32_t EventStore::setEventTime(HostEvent event, int32_t time, Via via) {
    return set(event, EventOp::SetTime, time, via, [&](EventData& d) { d.time = time; });
}

int32_t EventStore::setEventDuration(HostEvent event, uint32_t duration, Via via) {
    return set(event, EventOp::SetDuration, duration, via,
               [&](EventData& d) { d.duration = duration; });
}

int32_t EventStore::setLive(HostEvent event, uint32_t flag, Via via) {
    return set(event, EventOp::SetLive, flag, via, [&](EventData& d) { d.live = flag != 0; });
}

int32_t EventStore::setEventChannel(HostEvent event, uint32_t channel, Via via) {
    return set(event, EventOp::SetChannel, channel, via, [&](EventData& d) {
        d.channel = channel <= 15 ? static_cast<int32_t>(channel) : -1;
        if (d.channel >= 0 && d.status >= 0x80 && d.status < 0xF0)
            d.status = static_cast<uint8_t>((d.status & 0xF0) | channel);
    });
}

int32_t EventStore::setReleaseVelocity(HostEvent event, uint32_t velocity, Via via) {
    return set(event, EventOp::SetReleaseVelocity, velocity, via,
               [&](EventData& d) { d.releaseVelocity = velocity; });
}

int32_t EventStore::eventTime(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.time : 0;
}

uint32_t EventStore::eventDuration(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.duration : 0;
}

uint8_t EventStore::isLive(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e && e->data.live ? 1 : 0;
}

int32_t EventStore::eventChannel(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.channel : -1;
}

uint32_t EventStore::eventKind(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.kind : 0;
}

uint32_t EventStore::eventData1(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.data1 : 0;
}

uint32_t EventStore::eventData2(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.data2 : 0;
}

uint32_t EventStore::releaseVelocity(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? e->data.releaseVelocity : 0;
}

uint32_t EventStore::sysexLength(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e ? static_cast<uint32_t>(e->data.sysex.size()) : 0;
}

const uint8_t* EventStore::sysexData(HostEvent event) {
    Lock g(lock_);
    Entry* e = find(event);
    return e && !e->data.sysex.empty() ? e->data.sysex.data() : nullptr;
}

// ---- the account ----

bool EventStore::exists(HostEvent event) const {
    Lock g(lock_);
    return findQuiet(event) != nullptr;
}

bool EventStore::get(HostEvent event, EventData* out) const {
    Lock g(lock_);
    const Entry* e = findQuiet(event);
    if (!e || !out) return false;
    *out = e->data;
    return true;
}

bool EventStore::originOf(HostEvent event, Origin* out) const {
    Lock g(lock_);
    const Entry* e = findQuiet(event);
    if (!e || !out) return false;
    *out = e->origin;
    return true;
}

int32_t EventStore::liveHandles() const {
    Lock g(lock_);
    return moduleLive_;
}

std::vector<HostEvent> EventStore::liveHandleList() const {
    Lock g(lock_);
    std::vector<HostEvent> list;
    for (uint32_t i = 0; i < slots_.size(); ++i) {
        const Slot& s = slots_[i];
        if (s.used && s.entry.origin != Origin::Host)
            list.push_back(((s.generation - 1) << kIndexBits) | (i + 1));
    }
    std::sort(list.begin(), list.end());
    return list;
}

int32_t EventStore::hostHandles() const {
    Lock g(lock_);
    return used_ - moduleLive_;
}

int32_t EventStore::createdCount() const { Lock g(lock_); return created_; }
int32_t EventStore::copiedCount() const { Lock g(lock_); return copied_; }
int32_t EventStore::releasedCount() const { Lock g(lock_); return released_; }
int32_t EventStore::handedOverCount() const { Lock g(lock_); return handedOver_; }
int32_t EventStore::doubleReleases() const { Lock g(lock_); return doubleReleases_; }
int32_t EventStore::unknownHandleUses() const { Lock g(lock_); return unknownUses_; }
int32_t EventStore::staleHandleUses() const { Lock g(lock_); return staleUses_; }
int32_t EventStore::foreignReleases() const { Lock g(lock_); return foreignReleases_; }
int32_t EventStore::failedCreates() const { Lock g(lock_); return failedCreates_; }

bool EventStore::balanced() const {
    Lock g(lock_);
    return moduleLive_ == 0 && doubleReleases_ == 0 && unknownUses_ == 0 && staleUses_ == 0 &&
           foreignReleases_ == 0;
}

std::vector<OutputRecord> EventStore::output() const {
    Lock g(lock_);
    return output_;
}

std::vector<OutputRecord> EventStore::takeOutput() {
    Lock g(lock_);
    return std::exchange(output_, {});
}

std::vector<JournalEntry> EventStore::journal() const {
    Lock g(lock_);
    return journal_;
}

void EventStore::startClock() {
    Lock g(lock_);
    QueryPerformanceFrequency(&clockFrequency_);
    QueryPerformanceCounter(&clockStart_);
}

int64_t EventStore::clockMicros() const {
    if (clockFrequency_.QuadPart == 0) return 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t ticks = now.QuadPart - clockStart_.QuadPart, f = clockFrequency_.QuadPart;
    return ticks / f * 1000000 + ticks % f * 1000000 / f;
}

void EventStore::setJournaling(bool on) {
    Lock g(lock_);
    journaling_ = on;
}
