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

void TimedEventList::setTimeSource(IMidiModuleHost* timeSource) {
    if (timeSource) timeSource->AddRef();
    timeSource_.reset(timeSource);
}

HostEvent TimedEventList::eventAt(int32_t index) const {
    ListNode* node = nodeAt(index);
    return node ? node->payload : 0;
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
            static_cast<TimedNode*>(node)->time = moved;
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
