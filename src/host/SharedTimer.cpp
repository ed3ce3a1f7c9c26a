#include "host/SharedTimer.h"

// A thread timer can only be killed by the thread that set it, and a host may let
// the last user go on another thread. So the timer belongs to the thread that
// started it: a release elsewhere only drops the count, and the owner's next tick
// sees no user and kills it there. While the timer lives it holds a reference on
// this module, so no tick can reach unloaded code; a tick gives it back through a
// short-lived thread that frees the library and exits without returning here.
namespace {
SRWLOCK lock = SRWLOCK_INIT;
int32_t userCount = 0;
UINT_PTR timerId = 0;
DWORD ownerThread = 0;
HMODULE heldModule = nullptr;
volatile LONG ticks = 0;
ObjectList pendingUpdates;

HMODULE holdThisModule() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&timerTick), &self))
        return nullptr;
    return self;
}

DWORD WINAPI letGoOfModule(void* module) { FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0); }

// Kills the timer on its own thread; returns the module reference it held.
HMODULE stopOnOwnerThread() {
    KillTimer(nullptr, timerId);
    timerId = 0;
    ownerThread = 0;
    HMODULE module = heldModule;
    heldModule = nullptr;
    return module;
}
}  // namespace

ObjectList& pendingUpdateList() { return pendingUpdates; }

void acquireTimer() {
    AcquireSRWLockExclusive(&lock);
    // A timer whose last user left on another thread is still alive on its owner
    // thread; it serves the new user as it is.
    if (++userCount == 1 && !timerId) {
        timerId = SetTimer(nullptr, 0, 20, timerTick);
        if (timerId) {
            ownerThread = GetCurrentThreadId();
            heldModule = holdThisModule();
        }
    }
    ReleaseSRWLockExclusive(&lock);
}

void releaseTimer() {
    HMODULE module = nullptr;
    AcquireSRWLockExclusive(&lock);
    // An unmatched release must not stop another user's timer.
    if (userCount > 0 && --userCount == 0 && timerId && ownerThread == GetCurrentThreadId())
        module = stopOnOwnerThread();
    ReleaseSRWLockExclusive(&lock);
    // The caller is inside this module, so the host still holds it loaded.
    if (module) FreeLibrary(module);
}

int32_t timerUserCount() {
    AcquireSRWLockShared(&lock);
    const int32_t count = userCount;
    ReleaseSRWLockShared(&lock);
    return count;
}

uint32_t timerTickCount() { return uint32_t(ticks); }

void CALLBACK timerTick(HWND, UINT, UINT_PTR id, DWORD) {
    InterlockedIncrement(&ticks);
    AcquireSRWLockExclusive(&lock);
    const bool used = userCount > 0;
    bool stopped = false;
    HMODULE module = nullptr;
    if (!used && timerId && id == timerId && ownerThread == GetCurrentThreadId()) {
        module = stopOnOwnerThread();
        stopped = true;
    }
    ReleaseSRWLockExclusive(&lock);
    if (stopped && module) {
        // The host may have let go of the module already: the last reference must
        // not be given back by code that then returns into it.
        HANDLE helper = CreateThread(nullptr, 0, letGoOfModule, module, 0, nullptr);
        if (helper)
            CloseHandle(helper);
        // Without a thread the module stays loaded: a leak, never a fault.
    }
    if (!used) return;
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
