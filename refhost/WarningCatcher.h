// The module's one message to the user is a warning box; a host that must not block on it
// (tests, the validator's checks) catches it here.
#pragma once

#include <windows.h>
#include <cstring>
#include <string>

// Catches the module's warning box on this thread, records it and closes it.
class WarningCatcher {
public:
    WarningCatcher() {
        current = this;
        hook_ = SetWindowsHookExA(WH_CBT, &WarningCatcher::proc, nullptr, GetCurrentThreadId());
    }
    ~WarningCatcher() {
        UnhookWindowsHookEx(hook_);
        current = nullptr;
    }
    int boxes = 0;
    std::string caption, text;

private:
    // The box's text is set after it activates: read it a moment later.
    static LRESULT CALLBACK proc(int code, WPARAM wp, LPARAM lp) {
        if (code == HCBT_ACTIVATE && current) {
            char cls[32] = {};
            GetClassNameA(reinterpret_cast<HWND>(wp), cls, sizeof cls);
            if (std::strcmp(cls, "#32770") == 0) {
                current->box_ = reinterpret_cast<HWND>(wp);
                SetTimer(nullptr, 0, 50, &WarningCatcher::readAndClose);
            }
        }
        return CallNextHookEx(nullptr, code, wp, lp);
    }
    static void CALLBACK readAndClose(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (!current || !current->box_) return;
        char buffer[256] = {};
        ++current->boxes;
        GetWindowTextA(current->box_, buffer, sizeof buffer);
        current->caption = buffer;
        EnumChildWindows(current->box_, &WarningCatcher::readStatic, 0);
        PostMessageA(current->box_, WM_COMMAND, IDOK, 0);
        current->box_ = nullptr;
    }
    static BOOL CALLBACK readStatic(HWND child, LPARAM) {
        char cls[32] = {}, buffer[256] = {};
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, buffer, sizeof buffer);
        if (lstrcmpiA(cls, "Static") == 0 && buffer[0]) current->text = buffer;
        return TRUE;
    }
    static WarningCatcher* current;
    HHOOK hook_ = nullptr;
    HWND box_ = nullptr;
};
inline WarningCatcher* WarningCatcher::current = nullptr;

