// Turns host events into MFX records and MFX records back into host events.
#pragma once

#include <cstdint>

#include "interfaces/HostInterfaces.h"
#include "interfaces/MfxInterfaces.h"

class EventConverter {
public:
    // events is not counted: its owner keeps it alive. Null makes every conversion fail.
    explicit EventConverter(IHostEventSet* events = nullptr) : events_(events) {}
    virtual ~EventConverter() = default;

    void setEvents(IHostEventSet* events) { events_ = events; }
    IHostEventSet* events() const { return events_; }

    // False when the event's kind is not converted; time, route and channel are
    // written before the kind is looked at.
    bool toMfxEvent(MfxEvent* out, HostEvent event);
    // Creates one host event, or two for a note split into on and off; out needs room
    // for 2. The created events belong to the caller. False when nothing was made.
    bool fromMfxEvent(const MfxEvent& event, HostEvent* out, int32_t* count, bool split);
    // Byte 7 of the record is left as it was.
    bool toShortEvent(MfxShortEvent* out, HostEvent event);
    // The new host event, or 0 without host events.
    HostEvent fromShortEvent(const MfxShortEvent& event);

    uint8_t runningStatus() const { return runningStatus_; }

private:
    bool toSysex(MfxEvent* out, HostEvent event);

    IHostEventSet* events_;
    uint8_t runningStatus_ = 0;
};
