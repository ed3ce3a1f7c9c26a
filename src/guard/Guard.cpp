#include "guard/Guard.h"

#include <winternl.h>

namespace guard {
namespace {

struct Frame {
    // Must come first: the system hands the handler this record's address.
    EXCEPTION_REGISTRATION_RECORD record;
    void* jump[5];
    DWORD code;
};

thread_local DWORD lastCode = 0;

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
    lastCode = f->code;
    if (code) *code = f->code;
    return false;
}

DWORD lastCaughtCode() { return lastCode; }

}  // namespace guard
