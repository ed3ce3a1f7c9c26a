// Calls into code the module does not own (filters, their pages) run under a guard:
// a system exception (access violation, RaiseException, another compiler's C++
// throw) or a C++ exception of ours never reaches the host.
#pragma once

#include <windows.h>

#include "interfaces/ComExtras.h"

namespace guard {

// Runs fn(context) under an SEH frame. Returns true when fn returned normally;
// false when an exception escaped, with its code stored in *code when given.
bool runGuarded(void (*fn)(void*), void* context, DWORD* code = nullptr);

// Puts a stack guard page right below the caller's frame when the stack below is
// committed and unguarded, as after an overflow; runGuarded calls it after one.
void restoreStackGuard();

// The code of the last exception caught on this thread (0 when none yet).
DWORD lastCaughtCode();
// Gives back the slot that keeps those codes; for the library's unload.
void releaseThreadSlot();

// Runs f() under the guard; true when it returned normally.
template <class F>
bool call(F&& f) {
    struct Box {
        F* f;
        bool threw;
    } box{&f, false};
    bool ok = runGuarded(
        [](void* p) {
            Box* b = static_cast<Box*>(p);
            try {
                (*b->f)();
            } catch (...) {
                b->threw = true;
            }
        },
        &box);
    return ok && !box.threw;
}

// Runs f() under the guard and returns its result, or fallback when it faulted.
// Nothing with a destructor lives inside f across the foreign call.
template <class R, class F>
R invoke(R fallback, F&& f) {
    R result = fallback;
    if (!call([&] { result = f(); })) return fallback;
    return result;
}

// Gives back a reference on a foreign object: its Release is its own code.
template <class T>
void release(ComRef<T>& ref) {
    call([&] { ref.reset(); });
}

}  // namespace guard
