#include "services/EventConverter.h"

#include <cstring>

#include "services/SysexAllocator.h"

using namespace mfxdata;

bool EventConverter::toMfxEvent(MfxEvent* out, HostEvent event) {
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

bool EventConverter::toSysex(MfxEvent* out, HostEvent event) {
    setBlockHandle(*out, 0);
    const uint32_t length = events_->sysexLength(event);
    if (length == 0) return false;
    SysexAllocator& allocator = sysexAllocator();
    SysexHandle block = 0;
    if (FAILED(allocator.create(length, &block))) return false;
    const uint8_t* source = events_->sysexData(event);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!source || FAILED(allocator.getData(block, &data, &size))) {
        allocator.free(block);
        return false;
    }
    std::memcpy(data, source, size);
    setBlockHandle(*out, block);
    return true;
}

bool EventConverter::fromMfxEvent(const MfxEvent& e, HostEvent* out, int32_t* count, bool split) {
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
    case MfxBlock10: {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        if (FAILED(sysexAllocator().getData(blockHandle(e), &data, &size))) return false;
        if (e.type != MfxSysex) return false;
        h0 = events_->createSysexEvent(data, size);
        break;
    }
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

bool EventConverter::toShortEvent(MfxShortEvent* out, HostEvent event) {
    if (!events_ || !out) return false;
    out->time = events_->eventTime(event);
    uint8_t status = uint8_t(events_->eventKind(event));
    const int32_t channel = events_->eventChannel(event);
    if (channel != -1) status = uint8_t(status | (channel & 0x0F));
    out->status = status;
    out->data1 = uint8_t(events_->eventData1(event));
    out->data2 = uint8_t(events_->eventData2(event));
    return true;
}

HostEvent EventConverter::fromShortEvent(const MfxShortEvent& event) {
    if (!events_) return 0;
    const HostEvent h = events_->createEvent(event.status, event.data1, event.data2, 0);
    events_->setEventTime(h, event.time);
    return h;
}
