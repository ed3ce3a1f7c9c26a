#include <gtest/gtest.h>

#include <cstdint>

#include "guard/Guard.h"
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

}  // namespace
