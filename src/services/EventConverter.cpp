#include "services/EventConverter.h"

#include <cstring>

#include "services/SysexAllocator.h"

using namespace mfxdata;

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

bool EventConverter::fromBlock(const MfxEvent& e, HostEvent* made) {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    if (FAILED(sysexAllocator().getData(mfxdata::blockHandle(e), &data, &size))) return false;
    if (e.type != MfxSysex) return false;
    *made = events_->createSysexEvent(data, size);
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
