// COM, the registered fake page class and a real top-level host window per test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "FakePropertyPage.h"

using Log = std::vector<std::string>;

struct WindowHandle {
    HWND h = nullptr;
    explicit WindowHandle(HWND w) : h(w) {}
    WindowHandle(const WindowHandle&) = delete;
    WindowHandle& operator=(const WindowHandle&) = delete;
    ~WindowHandle() {
        if (h && IsWindow(h)) DestroyWindow(h);
    }
};

inline HWND createTopLevelWindow(const char* title, int x) {
    static ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "PalTestHost";
        return RegisterClassA(&wc);
    }();
    (void)atom;
    return CreateWindowExA(0, "PalTestHost", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 40, 700, 600, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

inline void pumpMessages() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

// A window's rectangle in its parent's client coordinates.
inline RECT rectInParent(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class EditorTest : public ::testing::Test {
protected:
    // COM, the page class and the host window stay for the whole program: under Wine a
    // top-level window takes about two seconds to make and destroy.
    void SetUp() override {
        static HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        static fake::PageClassRegistration registration;
        static WindowHandle window(createTopLevelWindow("host", 20));
        (void)com;
        host = &window;
        ASSERT_TRUE(host->h);
        pumpMessages();
        fake::resetWorld();
        // Every test leaves the host window as it found it: no page inside.
        ASSERT_EQ(GetWindow(host->h, GW_CHILD), nullptr);
    }

    WindowHandle* host = nullptr;
};
