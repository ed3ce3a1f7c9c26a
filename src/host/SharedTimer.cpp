#include "host/SharedTimer.h"

namespace {
int32_t userCount = 0;
UINT_PTR timerId = 0;
uint32_t ticks = 0;
ObjectList pendingUpdates;
}  // namespace

ObjectList& pendingUpdateList() { return pendingUpdates; }

void acquireTimer() {
    if (++userCount == 1) timerId = SetTimer(nullptr, 0, 20, timerTick);
}

void releaseTimer() {
    if (userCount <= 0) return;  // an unmatched release must not stop another user's timer
    if (--userCount == 0) {
        KillTimer(nullptr, timerId);
        timerId = 0;
    }
}

int32_t timerUserCount() { return userCount; }

uint32_t timerTickCount() { return ticks; }

void CALLBACK timerTick(HWND, UINT, UINT_PTR, DWORD) {
    ++ticks;
    for (ListNode* n = pendingUpdates.first(); n; n = n->next) {
        PendingUpdate* entry = static_cast<PendingUpdate*>(n);
        if (!(entry->flags & PendingUpdate::updateFlag)) continue;
        for (ListNode* l = entry->listeners.first(); l; l = l->next) {
            IUpdateListener* listener = static_cast<UpdateListenerNode*>(l)->listener;
            if (listener) listener->updateNow(entry, entry->value);
        }
        entry->flags &= ~PendingUpdate::updateFlag;
    }
}
