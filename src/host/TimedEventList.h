// Host event handles in ascending order of event time.
#pragma once

#include <cstdint>
#include <new>

#include "host/ObjectList.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"

// The list holds the handles, not the events: deleting a node forgets its event
// unless the caller gives it back first (see clearReleasing). An event's time is read
// once, when it is placed; only shiftBack changes it afterwards.
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
    // An event with the time it had when it was placed. The handles are the module's
    // own copies, whose time changes only through shiftBack, so the list need not ask
    // the host for it again on every walk and take.
    struct TimedNode : ListNode {
        TimedNode(HostEvent event, int32_t time) : ListNode(event), time(time) {}
        int32_t time;
    };
    static int32_t timeOf(const ListNode* node) { return static_cast<const TimedNode*>(node)->time; }
    // Unlinked nodes kept for the next inserts: a node per event costs no allocation.
    ListNode* takeSpare(HostEvent event, int32_t time);
    void keepSpare(ListNode* node);

    static const int32_t kMaxSpare = 1024;
    ListNode* spare_ = nullptr;  // chained through next
    int32_t spareCount_ = 0;

    ComRef<IMidiModuleHost> timeSource_;
};

// Every sequenced event passes through insert and takeBefore: inline.
inline ListNode* TimedEventList::takeSpare(HostEvent event, int32_t time) {
    TimedNode* node = static_cast<TimedNode*>(spare_);
    if (!node) return new (std::nothrow) TimedNode(event, time);
    spare_ = node->next;
    --spareCount_;
    node->next = nullptr;
    node->payload = event;
    node->time = time;
    return node;
}

inline void TimedEventList::keepSpare(ListNode* node) {
    if (spareCount_ >= kMaxSpare) {
        delete node;
        return;
    }
    node->previous = nullptr;
    node->next = spare_;
    spare_ = node;
    ++spareCount_;
}

inline bool TimedEventList::insert(HostEvent event) {
    if (!timeSource_) return false;
    const int32_t t = timeSource_->eventTime(event);
    ListNode* at = last();
    while (at && timeOf(at) > t) at = at->previous;
    ListNode* node = takeSpare(event, t);
    if (!node) return false;  // out of memory: the caller gives the event back
    if (at)
        insertAfter(at, node);
    else
        addHead(node);
    return true;
}

inline HostEvent TimedEventList::takeBefore(int32_t limit) {
    ListNode* head = first();
    if (!timeSource_ || !head) return 0;
    if (timeOf(head) >= limit) return 0;
    HostEvent event = head->payload;
    remove(head);
    keepSpare(head);
    return event;
}
