// One module-wide 20 ms thread timer, running while any module object is initialised.
// Acquire and release may come from any thread; the timer lives on the thread that
// started it and stops there.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstdint>

#include "host/ObjectList.h"

class PendingUpdate;

// Told of a marked entry at the next tick (slot 4).
class IUpdateListener : public IUnknown {
public:
    virtual int32_t STDMETHODCALLTYPE reserved3() = 0;                                    // 3
    virtual int32_t STDMETHODCALLTYPE updateNow(PendingUpdate* entry, uint32_t value) = 0;  // 4
};

// One listener of an entry; not counted, the entry only points at it.
class UpdateListenerNode : public ListNode {
public:
    explicit UpdateListenerNode(IUpdateListener* listener) : listener(listener) {}
    IUpdateListener* listener;
};

class PendingUpdate : public ListNode {
public:
    static const uint32_t updateFlag = 2;

    uint32_t flags = 0;
    uint32_t value = 0;
    ObjectList listeners;  // of UpdateListenerNode
};

// Entries walked by every tick; nothing in the module adds any.
ObjectList& pendingUpdateList();

void acquireTimer();
void releaseTimer();
int32_t timerUserCount();
// Ticks run since load; for tests.
uint32_t timerTickCount();
// The tick procedure: notifies the listeners of every marked entry and clears the mark;
// with no user it calls nothing, and on the owner thread stops the timer.
void CALLBACK timerTick(HWND, UINT, UINT_PTR, DWORD);
