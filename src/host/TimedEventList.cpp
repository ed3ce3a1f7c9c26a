#include "host/TimedEventList.h"

#include <new>

#include "platform/WrapInt.h"

TimedEventList::TimedEventList(IMidiModuleHost* timeSource) { setTimeSource(timeSource); }

TimedEventList::~TimedEventList() {
    // The source goes before the nodes, as the host expects of its references.
    timeSource_.reset();
    clear();
    while (spare_) {
        ListNode* n = spare_;
        spare_ = n->next;
        delete n;
    }
}

namespace {
const int32_t kMaxSpare = 1024;
}

ListNode* TimedEventList::takeSpare(HostEvent event) {
    ListNode* node = spare_;
    if (!node) return new (std::nothrow) ListNode(event);
    spare_ = node->next;
    --spareCount_;
    node->next = nullptr;
    node->payload = event;
    return node;
}

void TimedEventList::keepSpare(ListNode* node) {
    if (spareCount_ >= kMaxSpare) {
        delete node;
        return;
    }
    node->previous = nullptr;
    node->next = spare_;
    spare_ = node;
    ++spareCount_;
}

void TimedEventList::setTimeSource(IMidiModuleHost* timeSource) {
    if (timeSource) timeSource->AddRef();
    timeSource_.reset(timeSource);
}

int32_t TimedEventList::timeOf(const ListNode* node) const { return timeSource_->eventTime(node->payload); }

HostEvent TimedEventList::eventAt(int32_t index) const {
    ListNode* node = nodeAt(index);
    return node ? node->payload : 0;
}

bool TimedEventList::insert(HostEvent event) {
    if (!timeSource_) return false;
    const int32_t t = timeSource_->eventTime(event);
    ListNode* at = last();
    while (at && timeOf(at) > t) at = at->previous;
    ListNode* node = takeSpare(event);
    if (!node) return false;  // out of memory: the caller gives the event back
    if (at)
        insertAfter(at, node);
    else
        addHead(node);
    return true;
}

HostEvent TimedEventList::takeBefore(int32_t limit) {
    ListNode* head = first();
    if (!timeSource_ || !head) return 0;
    if (timeOf(head) >= limit) return 0;
    HostEvent event = head->payload;
    remove(head);
    keepSpare(head);
    return event;
}

void TimedEventList::shiftBack(int32_t start, int32_t length, bool releaseDropped) {
    if (!timeSource_) return;
    // Wrapping arithmetic, as 32-bit host times wrap.
    const int32_t end = wrap::add(start, length);
    ListNode* node = last();
    while (node) {
        ListNode* predecessor = node->previous;
        const int32_t c = timeOf(node);
        if (c < end) break;
        const int32_t moved = wrap::sub(c, length);
        if (moved >= end) {
            if (releaseDropped) timeSource_->releaseEvent(node->payload);
            remove(node);
            keepSpare(node);
        } else {
            timeSource_->setEventTime(node->payload, moved);
            if (predecessor) {
                remove(node);
                ListNode* position = nullptr;
                for (ListNode* n = first(); n; n = n->next) {
                    if (timeOf(n) >= moved) {
                        position = n;
                        break;
                    }
                    if (n == predecessor) break;
                }
                if (position)
                    insertBefore(position, node);
                else
                    insertAfter(predecessor, node);
            }
        }
        node = predecessor;
    }
}

void TimedEventList::clearReleasing() {
    if (timeSource_)
        for (ListNode* n = first(); n; n = n->next) timeSource_->releaseEvent(n->payload);
    clear();
}
