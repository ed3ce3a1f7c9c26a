// A lock and a thread on the Windows primitives, for code that must not depend on
// the C++ runtime's threading (the project builds with the win32 thread model).
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

class Lock {
public:
    Lock() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class ScopedLock {
public:
    explicit ScopedLock(Lock& l) : l_(l) { l_.lock(); }
    ~ScopedLock() { l_.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lock& l_;
};

// Runs fn on a new thread; join waits for it (the destructor joins too).
class Thread {
public:
    explicit Thread(std::function<void()> fn) : fn_(new std::function<void()>(std::move(fn))) {
        handle_ = CreateThread(nullptr, 0, &Thread::run, fn_, 0, nullptr);
        if (!handle_) delete fn_;
    }
    Thread(Thread&& o) noexcept : handle_(o.handle_), fn_(o.fn_) {
        o.handle_ = nullptr;
        o.fn_ = nullptr;
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { join(); }
    bool started() const { return handle_ != nullptr; }
    void join() {
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI run(void* p) {
        auto* fn = static_cast<std::function<void()>*>(p);
        (*fn)();
        delete fn;
        return 0;
    }
    HANDLE handle_ = nullptr;
    std::function<void()>* fn_;
};
