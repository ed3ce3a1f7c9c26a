// Host event handles in ascending order of event time.
#pragma once

#include <cstdint>

#include "host/ObjectList.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"

// The list holds the handles, not the events: deleting a node forgets its event
// unless the caller gives it back first (see clearReleasing).
class TimedEventList : public ObjectList {
public:
    explicit TimedEventList(IMidiModuleHost* timeSource = nullptr);
    ~TimedEventList() override;

    // Releases the previous source and holds a reference on the new one (or none).
    void setTimeSource(IMidiModuleHost* timeSource);
    void dropTimeSource() { setTimeSource(nullptr); }
    IMidiModuleHost* timeSource() const { return timeSource_.get(); }

    // Places the event after every event timed at or before it; false without a source.
    bool insert(HostEvent event);
    // The earliest event if it is timed before limit, unlinked; else 0.
    HostEvent takeBefore(int32_t limit);
    // Events in [start + length, start + 2 * length) move back by length and keep the
    // list in order; later events are dropped, and given back to the time source with
    // releaseEvent when releaseDropped is set.
    void shiftBack(int32_t start, int32_t length, bool releaseDropped = false);
    // Gives every held event back with releaseEvent (when there is a source), then
    // deletes the nodes.
    void clearReleasing();

    HostEvent eventAt(int32_t index) const;

private:
    int32_t timeOf(const ListNode* node) const;
    // Unlinked nodes kept for the next inserts: a node per event costs no allocation.
    ListNode* takeSpare(HostEvent event);
    void keepSpare(ListNode* node);

    ListNode* spare_ = nullptr;  // chained through next
    int32_t spareCount_ = 0;

    ComRef<IMidiModuleHost> timeSource_;
};
