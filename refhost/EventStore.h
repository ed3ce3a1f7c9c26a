// The reference host's events: handles, fields and a full account of what the
// module did with every handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "interfaces/HostInterfaces.h"

// Which host interface a call came through.
enum class Via : uint8_t { Host, MidiModuleHost, EventServices };

// Who brought a handle into being: the host itself, or the module by create or copy.
enum class Origin : uint8_t { Host, Created, Copied };

enum class OutputKind : uint8_t { Timed, Now, HandedOver };

// State-changing event operations, as journaled.
enum class EventOp : uint8_t {
    Create, CreateSysex, Copy, Release, Output, OutputNow, HandOver,
    SetTime, SetDuration, SetLive, SetChannel, SetReleaseVelocity
};

// What was wrong with a call, if anything.
enum class Fault : uint8_t {
    None,
    UnknownHandle,   // 0 or never issued by this store
    StaleHandle,     // used after it was released or handed over
    DoubleRelease,   // released (or handed over) again
    ForeignRelease,  // the module gave back an event the host owns
    CreateFailed,    // a create that answered 0
};

struct EventData {
    uint8_t status = 0;  // the status byte as created (0xF0 for sysex)
    uint32_t kind = 0;   // status with the channel bits clear
    int32_t channel = -1;
    uint32_t data1 = 0, data2 = 0;
    int32_t time = 0;
    uint32_t duration = 0;
    uint32_t releaseVelocity = 0;
    bool live = false;
    std::vector<uint8_t> sysex;
};

struct OutputRecord {
    uint64_t sequence = 0;  // journal position of the output call
    HostEvent handle = 0;
    OutputKind how = OutputKind::Timed;
    Via via = Via::Host;
    Origin origin = Origin::Host;
    int32_t hostPosition = 0;  // the transport position when it was output
    EventData event;           // the fields at that moment
    int64_t clockMicros = 0;   // the store's clock at the output call (0 while it is stopped)
};

struct JournalEntry {
    uint64_t sequence = 0;
    EventOp op = EventOp::Create;
    Via via = Via::Host;
    HostEvent handle = 0;  // the handle acted on (for Create/Copy: the new one)
    HostEvent source = 0;  // for Copy: the original
    int64_t value = 0;     // the argument of a set operation
    Fault fault = Fault::None;
};

// Handles start at 1, are never 0 and never reused within one store's life: a handle is a
// slot index (plus 1) with the slot's generation above it, so a lookup is an index and a
// freed slot comes back with a new generation; a slot whose generations are spent retires.
// Every member locks: the store may be shared between threads.
// Calls on bad handles never crash: setters answer 1, getters 0 (channel -1,
// sysex data null), and the fault is counted.
class EventStore {
public:
    EventStore();
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // ---- the host's event operations (what IHostEventSet forwards to) ----
    HostEvent createEvent(uint32_t status, uint32_t data1, uint32_t data2, uint32_t duration,
                          Via via = Via::Host);
    // A null byte pointer with a count above 0 answers 0.
    HostEvent createSysexEvent(const uint8_t* bytes, uint32_t count, Via via = Via::Host);
    HostEvent copyEvent(HostEvent event, Via via = Via::Host);
    int32_t releaseEvent(HostEvent event, Via via = Via::Host);
    int32_t outputEvent(HostEvent event, int32_t hostPosition = 0, Via via = Via::Host);
    int32_t outputEventNow(HostEvent event, int32_t hostPosition = 0, Via via = Via::Host);
    // The module's last call on a handle: it is output and given back in one.
    int32_t handOverEvent(HostEvent event, int32_t hostPosition = 0, Via via = Via::Host);
    int32_t setEventTime(HostEvent event, int32_t time, Via via = Via::Host);
    int32_t eventTime(HostEvent event);
    int32_t setEventDuration(HostEvent event, uint32_t duration, Via via = Via::Host);
    uint32_t eventDuration(HostEvent event);
    int32_t setLive(HostEvent event, uint32_t flag, Via via = Via::Host);
    uint8_t isLive(HostEvent event);
    // 0 to 15 set the channel; any other value means no channel (-1).
    int32_t setEventChannel(HostEvent event, uint32_t channel, Via via = Via::Host);
    int32_t eventChannel(HostEvent event);
    uint32_t eventKind(HostEvent event);
    uint32_t eventData1(HostEvent event);
    uint32_t eventData2(HostEvent event);
    uint32_t releaseVelocity(HostEvent event);
    int32_t setReleaseVelocity(HostEvent event, uint32_t velocity, Via via = Via::Host);
    uint32_t sysexLength(HostEvent event);
    // Valid until the event is given back.
    const uint8_t* sysexData(HostEvent event);

    // ---- host-owned events (the module must not give these back) ----
    HostEvent newNote(int32_t time, int32_t channel, uint32_t key, uint32_t velocity,
                      uint32_t duration, uint32_t releaseVelocity = 0);
    HostEvent newEvent(int32_t time, uint32_t status, uint32_t data1, uint32_t data2);
    HostEvent newSysex(int32_t time, const std::vector<uint8_t>& bytes);
    bool markLive(HostEvent event, bool live);
    // The host drops one of its own events; false for a module-owned or bad handle.
    bool discard(HostEvent event);
    // Makes the next n module creates and copies fail (answer 0).
    void failNextCreates(int32_t n);

    // ---- the account ----
    bool exists(HostEvent event) const;
    bool get(HostEvent event, EventData* out) const;
    bool originOf(HostEvent event, Origin* out) const;
    // Module-created or copied handles not yet given back.
    int32_t liveHandles() const;
    std::vector<HostEvent> liveHandleList() const;
    int32_t hostHandles() const;
    int32_t createdCount() const;  // createEvent + createSysexEvent that succeeded
    int32_t copiedCount() const;
    int32_t releasedCount() const;  // module events given back by releaseEvent
    int32_t handedOverCount() const;
    int32_t doubleReleases() const;
    int32_t unknownHandleUses() const;
    int32_t staleHandleUses() const;
    int32_t foreignReleases() const;
    int32_t failedCreates() const;
    // Any fault at all, and every handle the module made given back exactly once.
    bool balanced() const;

    std::vector<OutputRecord> output() const;
    // Moves the output records out (a long render keeps memory flat).
    std::vector<OutputRecord> takeOutput();
    std::vector<JournalEntry> journal() const;
    void setJournaling(bool on);

    // A wall clock from 0 that stamps every output record from now on; off by default,
    // so that renders pay nothing for it.
    void startClock();
    // Microseconds since startClock (0 before it).
    int64_t clockMicros() const;

private:
    struct Entry {
        EventData data;
        Origin origin = Origin::Host;
    };
    struct Slot {
        Entry entry;
        uint32_t generation = 0;  // of the last handle issued from this slot
        bool used = false;
    };
    static const uint32_t kIndexBits = 22;
    static const uint32_t kIndexMask = (1u << kIndexBits) - 1;
    static const uint32_t kGenerations = 1u << (32 - kIndexBits);

    // Recursive like the members that call each other's helpers under it.
    class Lock {
    public:
        explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
        ~Lock() { LeaveCriticalSection(&section_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        CRITICAL_SECTION& section_;
    };

    // Looks a handle up for a call; counts and journals the fault when it is bad.
    Entry* find(HostEvent event);
    const Entry* findQuiet(HostEvent event) const;
    Fault classify(HostEvent event) const;
    void note(EventOp op, Via via, HostEvent handle, int64_t value, Fault fault,
              HostEvent source = 0);
    void countFault(Fault fault);
    HostEvent add(Entry entry);
    // The slot a live handle names, else null.
    Slot* slotOf(HostEvent event);
    const Slot* slotOf(HostEvent event) const;
    void erase(HostEvent event);
    HostEvent moduleCreate(Entry entry, EventOp op, Via via);
    int32_t giveBack(HostEvent event, EventOp op, int32_t hostPosition, Via via);
    int32_t record(HostEvent event, OutputKind how, int32_t hostPosition, Via via, EventOp op);
    template <class F>
    int32_t set(HostEvent event, EventOp op, int64_t value, Via via, F apply);

    mutable CRITICAL_SECTION lock_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;  // slot indices to reuse, the latest freed last
    int32_t used_ = 0;            // slots holding an event
    uint64_t sequence_ = 0;
    int32_t moduleLive_ = 0;
    int32_t created_ = 0, copied_ = 0, released_ = 0, handedOver_ = 0;
    int32_t doubleReleases_ = 0, unknownUses_ = 0, staleUses_ = 0, foreignReleases_ = 0;
    int32_t failedCreates_ = 0, failNext_ = 0;
    bool journaling_ = true;
    LARGE_INTEGER clockStart_{};
    LARGE_INTEGER clockFrequency_{};
    std::vector<OutputRecord> output_;
    std::vector<JournalEntry> journal_;
};
