#include "guard/Guard.h"

#include <winternl.h>

#include <cstdint>

namespace guard {
namespace {

struct Frame {
    // Must come first: the system hands the handler this record's address.
    EXCEPTION_REGISTRATION_RECORD record;
    void* jump[5];
    DWORD code;
};

// The per-thread last code lives in a TLS slot of our own, given back at unload:
// the runtime's emulated thread_local would lose one slot per load.
volatile LONG slot = LONG(TLS_OUT_OF_INDEXES);

DWORD slotIndex() {
    const LONG current = slot;
    if (current != LONG(TLS_OUT_OF_INDEXES)) return DWORD(current);
    const DWORD fresh = TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES) return fresh;
    const LONG before = InterlockedCompareExchange(&slot, LONG(fresh), LONG(TLS_OUT_OF_INDEXES));
    if (before == LONG(TLS_OUT_OF_INDEXES)) return fresh;
    TlsFree(fresh);  // another thread was first
    return DWORD(before);
}

void setLastCode(DWORD code) {
    const DWORD index = slotIndex();
    if (index != TLS_OUT_OF_INDEXES) TlsSetValue(index, reinterpret_cast<void*>(uintptr_t(code)));
}

EXCEPTION_REGISTRATION_RECORD* currentHead() {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void setHead(EXCEPTION_REGISTRATION_RECORD* head) { __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory"); }

EXCEPTION_DISPOSITION __cdecl handler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    Frame* frame = static_cast<Frame*>(establisher);
    frame->code = record->ExceptionCode;
    // Run the unwind handlers of the frames above ours, then jump back.
    RtlUnwind(establisher, nullptr, record, nullptr);
    __builtin_longjmp(frame->jump, 1);
}

}  // namespace

// An overflow used up the thread's stack guard page; without a new one the next
// overflow would find no guard and kill the process. The new guard goes right below
// the caller's frame: each touch of it moves it one page down, as the system's does.
__attribute__((noinline)) void restoreStackGuard() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t page = system.dwPageSize;
    const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) & ~(page - 1);
    MEMORY_BASIC_INFORMATION stack;
    if (!VirtualQuery(reinterpret_cast<void*>(here), &stack, sizeof stack)) return;
    const uintptr_t bottom = reinterpret_cast<uintptr_t>(stack.AllocationBase);
    const uintptr_t guardPage = here - page;
    // The lowest pages stay for the system's own overflow handling.
    if (guardPage < bottom + 4 * page) return;
    MEMORY_BASIC_INFORMATION below;
    if (!VirtualQuery(reinterpret_cast<void*>(guardPage), &below, sizeof below)) return;
    if (below.State != MEM_COMMIT || (below.Protect & PAGE_GUARD)) return;  // a guard is still further down
    DWORD old;
    VirtualProtect(reinterpret_cast<void*>(guardPage), page, PAGE_READWRITE | PAGE_GUARD, &old);
}

__attribute__((noinline)) bool runGuarded(void (*fn)(void*), void* context, DWORD* code) {
    volatile Frame frame;
    Frame* f = const_cast<Frame*>(&frame);
    f->code = 0;
    f->record.Next = currentHead();
    f->record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&handler);
    if (__builtin_setjmp(f->jump) == 0) {
        setHead(&f->record);
        fn(context);
        setHead(f->record.Next);
        return true;
    }
    setHead(f->record.Next);
    if (f->code == EXCEPTION_STACK_OVERFLOW) restoreStackGuard();
    setLastCode(f->code);
    if (code) *code = f->code;
    return false;
}

DWORD lastCaughtCode() {
    const LONG index = slot;
    if (index == LONG(TLS_OUT_OF_INDEXES)) return 0;
    const DWORD error = GetLastError();
    const DWORD code = DWORD(uintptr_t(TlsGetValue(DWORD(index))));
    SetLastError(error);
    return code;
}

void releaseThreadSlot() {
    const LONG index = InterlockedExchange(&slot, LONG(TLS_OUT_OF_INDEXES));
    if (index != LONG(TLS_OUT_OF_INDEXES)) TlsFree(DWORD(index));
}

}  // namespace guard
