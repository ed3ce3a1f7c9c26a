// Where 32-bit code runs under a user-mode CPU emulator (the test run sets
// PAL_EMULATED=1), Wine is less than a real CPU: a hardware fault can take the
// emulator down with it (what it does deliver comes as an illegal instruction), and
// a process whose threads contend hard is killed by the emulator now and then.
// The tests' access violation is therefore raised in software there; the tests
// that cannot run there are left out by the test run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace emulation {

inline bool active() {
    const char* flag = std::getenv("PAL_EMULATED");
    return flag && flag[0] == '1';
}

// Natively a real write to an unmapped address; emulated, the same exception record
// (code, write, address 0x10) raised from the caller's own code.
__attribute__((always_inline)) inline void accessViolation() {
    static volatile uintptr_t address = 0x10;
    if (!active()) {
        *reinterpret_cast<volatile int*>(address) = 1;
        return;
    }
    using Raise = void(WINAPI*)(EXCEPTION_RECORD*);
    // RtlRaiseException records its return address, so the fault appears inside the
    // module that called this.
    static const Raise raise =
        reinterpret_cast<Raise>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlRaiseException")));
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = address;
    raise(&record);
}

}  // namespace emulation
