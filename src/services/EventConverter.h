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
    // Types 8 to 10: the sysex event of a block, false for the other two.
    bool fromBlock(const MfxEvent& e, HostEvent* made);

    IHostEventSet* events_;
    uint8_t runningStatus_ = 0;
};

// Both directions run once per event: inline.
inline bool EventConverter::toMfxEvent(MfxEvent* out, HostEvent event) {
    using namespace mfxdata;
    if (!events_ || !out) return false;
    MfxEvent& e = *out;
    e.time = events_->eventTime(event);
    e.route = 0;
    e.channel = uint8_t(events_->eventChannel(event));
    const uint32_t kind = events_->eventKind(event);
    switch (kind) {
    case 0x90:
        e.type = MfxNote;
        byteAt(e, 10) = uint8_t(events_->eventData1(event));
        byteAt(e, 11) = uint8_t(events_->eventData2(event));
        byteAt(e, 12) = uint8_t(events_->releaseVelocity(event));
        setNoteDuration(e, events_->eventDuration(event));
        return true;
    case 0xA0:
    case 0xB0:
        e.type = kind == 0xA0 ? MfxKeyAftertouch : MfxController;
        byteAt(e, 10) = uint8_t(events_->eventData1(event));
        byteAt(e, 11) = uint8_t(events_->eventData2(event));
        return true;
    case 0xC0:
        e.type = MfxProgramChange;
        byteAt(e, 10) = uint8_t(events_->eventData1(event));
        byteAt(e, 11) = 0;
        writeU16(e, 12, 0xFFFF);  // no bank
        return true;
    case 0xD0:
        e.type = MfxChannelPressure;
        byteAt(e, 11) = uint8_t(events_->eventData1(event));
        return true;
    case 0xE0: {
        e.type = MfxPitchWheel;
        const int32_t lsb = int32_t(events_->eventData1(event) & 0x7F);
        const int32_t msb = int32_t(events_->eventData2(event) & 0x7F);
        writeU16(e, 10, uint16_t(int16_t((msb - 64) * 128 + lsb)));
        return true;
    }
    case 0xF0:
        e.type = MfxSysex;
        return toSysex(out, event);
    default:
        return false;
    }
}

inline bool EventConverter::fromMfxEvent(const MfxEvent& e, HostEvent* out, int32_t* count, bool split) {
    using namespace mfxdata;
    if (!events_ || !out || !count) return false;
    int32_t made = 1;
    HostEvent h0 = 0, h1 = 0;
    const uint32_t duration = noteDuration(e);
    switch (e.type) {
    case MfxNote:
        if (split && duration > 0) {
            made = 2;
            h0 = events_->createEvent(0x90, byteAt(e, 10), byteAt(e, 11), 0);
            events_->setReleaseVelocity(h0, byteAt(e, 12));
            h1 = events_->createEvent(0x90, byteAt(e, 10), 0, 0);
            events_->setReleaseVelocity(h1, byteAt(e, 12));
        } else {
            h0 = events_->createEvent(0x90, byteAt(e, 10), byteAt(e, 11), duration);
            events_->setReleaseVelocity(h0, byteAt(e, 12));
        }
        break;
    case MfxKeyAftertouch:
        h0 = events_->createEvent(0xA0, byteAt(e, 10), byteAt(e, 11), 0);
        break;
    case MfxController:
        h0 = events_->createEvent(0xB0, byteAt(e, 10), byteAt(e, 11), 0);
        break;
    case MfxProgramChange:
        h0 = events_->createEvent(0xC0, byteAt(e, 10), 0, 0);
        break;
    case MfxChannelPressure:
        h0 = events_->createEvent(0xD0, byteAt(e, 11), 0, 0);
        break;
    case MfxPitchWheel: {
        const int32_t v = int32_t(int16_t(readU16(e, 10))) + 8192;
        h0 = events_->createEvent(0xE0, uint32_t(v & 0x7F), uint32_t((v >> 7) & 0x7F), 0);
        break;
    }
    case MfxSysex:
    case MfxBlock9:
    case MfxBlock10:
        if (!fromBlock(e, &h0)) return false;
        break;
    case MfxShortMessage: {
        const uint8_t b0 = byteAt(e, 10), b1 = byteAt(e, 11), b2 = byteAt(e, 12);
        if (b0 >= 0x80) {
            runningStatus_ = b0;
            h0 = events_->createEvent(b0, b1, b2, 0);
        } else {
            h0 = events_->createEvent(runningStatus_, b0, b1, 0);
        }
        break;
    }
    default:
        return false;
    }
    events_->setEventTime(h0, e.time);
    events_->setEventChannel(h0, e.channel);
    out[0] = h0;
    if (made == 2) {
        events_->setEventTime(h1, int32_t(uint32_t(e.time) + duration));
        events_->setEventChannel(h1, e.channel);
        out[1] = h1;
    }
    *count = made;
    return true;
}
