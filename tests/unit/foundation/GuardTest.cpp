#include <gtest/gtest.h>

#include <cstdint>

#include "guard/Guard.h"

using guard::restoreStackGuard;
#include "testfilter/Emulation.h"

namespace {

TEST(Guard, NormalCallRunsAndReportsSuccess) {
    int calls = 0;
    EXPECT_TRUE(guard::call([&] { ++calls; }));
    EXPECT_EQ(calls, 1);
}

TEST(Guard, CatchesAccessViolationAndRaisedExceptions) {
    struct Case {
        DWORD code;
    } cases[] = {{EXCEPTION_ACCESS_VIOLATION}, {0xE06D7363}, {0xC0000094}};
    for (const Case& c : cases) {
        bool after = false;
        bool ok = guard::call([&] {
            if (c.code == EXCEPTION_ACCESS_VIOLATION) {
                emulation::accessViolation();
            } else {
                RaiseException(c.code, 0, 0, nullptr);
            }
            after = true;
        });
        EXPECT_FALSE(ok);
        EXPECT_FALSE(after);
        EXPECT_EQ(guard::lastCaughtCode(), c.code);
    }
}

TEST(Guard, CatchesCxxExceptionsAndNests) {
    EXPECT_FALSE(guard::call([] { throw 42; }));
    bool inner = true;
    EXPECT_TRUE(guard::call([&] {
        inner = guard::call([] { RaiseException(0xE0000001, 0, 0, nullptr); });
    }));
    EXPECT_FALSE(inner);
    // The frame chain is intact afterwards: a later fault is still caught.
    EXPECT_FALSE(guard::call([] { RaiseException(0xE0000002, 0, 0, nullptr); }));
}

// Each frame commits a page of stack below the last one.
__attribute__((noinline)) int touchPages(volatile uint8_t* previous, int pages) {
    volatile uint8_t page[4096];
    page[0] = previous ? uint8_t(previous[0] + 1) : 1;
    page[sizeof page - 1] = page[0];
    return pages > 1 ? touchPages(page, pages - 1) + page[sizeof page - 1] : page[0];
}

// The nearest guarded page below p within 'within' pages; 0 when none.
uintptr_t guardBelow(uintptr_t p, int within) {
    for (int i = 1; i <= within; ++i) {
        MEMORY_BASIC_INFORMATION m;
        const uintptr_t at = (p & ~uintptr_t(4095)) - uintptr_t(i) * 4096;
        if (VirtualQuery(reinterpret_cast<void*>(at), &m, sizeof m) && m.State == MEM_COMMIT && (m.Protect & PAGE_GUARD))
            return at;
    }
    return 0;
}

// After an overflow the stack is committed far down with no guard left. The guard put
// back sits right below the caller, and the system moves it down as the stack is used
// again, as it does its own.
struct Seen {
    uintptr_t before, after, afterUse;
    int touched;
};

DWORD WINAPI useStackAndPutGuardBack(void* p) {
    Seen& s = *static_cast<Seen*>(p);
    const uintptr_t here = uintptr_t(__builtin_frame_address(0));
    touchPages(nullptr, 64);  // commits 64 pages; the system's guard is now below them
    s.before = guardBelow(here, 8);
    restoreStackGuard();
    s.after = guardBelow(here, 8);
    s.touched = touchPages(nullptr, 32);
    s.afterUse = guardBelow(here, 8);
    return 0;
}

TEST(Guard, AGuardPagePutBackBelowTheCallerMovesDownAsTheStackGrows) {
    Seen seen = {};
    HANDLE thread = CreateThread(nullptr, 1 << 20, useStackAndPutGuardBack, &seen, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0xCAFECAFE;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(seen.before, 0u) << "no guard right below before";
    EXPECT_NE(seen.after, 0u) << "the guard is put back right below";
    EXPECT_GT(seen.touched, 0);
    EXPECT_EQ(seen.afterUse, 0u) << "using the stack moved it down";
}

}  // namespace

