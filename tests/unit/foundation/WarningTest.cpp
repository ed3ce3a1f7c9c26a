#include <gtest/gtest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "entry/ModuleEntry.h"
#include "platform/Warning.h"

namespace {

// What the hook saw of the box before closing it.
struct SeenBox {
    bool seen = false;
    std::string windowClass, caption, text;
    std::vector<int> buttonIds;
    HICON icon = nullptr;
};
SeenBox seenBox;

BOOL CALLBACK collectStatic(HWND child, LPARAM) {
    char cls[64] = {}, text[256] = {};
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    if (lstrcmpiA(cls, "Static") == 0 && text[0]) seenBox.text = text;
    if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        seenBox.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child)) seenBox.buttonIds.push_back(GetDlgCtrlID(child));
    return TRUE;
}

HWND activeBox = nullptr;

// Runs in the box's own message loop, once its dialog is set up.
void CALLBACK readAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    char cls[64] = {}, caption[256] = {};
    GetClassNameA(activeBox, cls, sizeof cls);
    GetWindowTextA(activeBox, caption, sizeof caption);
    seenBox.seen = true;
    seenBox.windowClass = cls;
    seenBox.caption = caption;
    EnumChildWindows(activeBox, collectStatic, 0);
    PostMessageA(activeBox, WM_COMMAND, IDOK, 0);
}

LRESULT CALLBACK watchActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !activeBox) {
        activeBox = reinterpret_cast<HWND>(wParam);
        SetTimer(nullptr, 0, 50, readAndClose);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Shows the box with the module instance set to module; the hook closes it.
int showWithHook(HMODULE module, const char* text) {
    seenBox = SeenBox();
    activeBox = nullptr;
    setModuleInstance(module);
    HHOOK hook = SetWindowsHookExA(WH_CBT, watchActivation, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook, nullptr);
    int result = showWarning(text);
    UnhookWindowsHookEx(hook);
    setModuleInstance(nullptr);
    return result;
}

TEST(Warning, CaptionIsTheModuleFileNameWithoutItsDirectory) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    char path[MAX_PATH] = {};
    GetModuleFileNameA(kernel, path, MAX_PATH);
    ASSERT_NE(std::string(path).find('\\'), std::string::npos) << path;

    EXPECT_EQ(showWithHook(kernel, "Could not connect to MFX Event Filter!"), IDOK);
    ASSERT_TRUE(seenBox.seen);
    EXPECT_EQ(seenBox.windowClass, "#32770");
    EXPECT_EQ(std::string(path).substr(std::string(path).rfind('\\') + 1), seenBox.caption);
    EXPECT_EQ(seenBox.text, "Could not connect to MFX Event Filter!");
    // MB_OK with the exclamation icon (topmost and task-modal leave no readable mark).
    EXPECT_EQ(seenBox.buttonIds, std::vector<int>{IDOK});
    EXPECT_EQ(seenBox.icon, LoadIconA(nullptr, IDI_EXCLAMATION));
}

TEST(Warning, NullTextShowsAnEmptyBox) {
    EXPECT_EQ(showWithHook(GetModuleHandleA(nullptr), nullptr), IDOK);
    EXPECT_TRUE(seenBox.seen);
    EXPECT_EQ(seenBox.text, "");
    EXPECT_NE(seenBox.caption.find(".exe"), std::string::npos) << seenBox.caption;
}

}  // namespace
