#include "editor/PluginViewBase.h"

#include "host/UniqueId.h"

namespace {

// One value for all views: a key the host hands to several views at once reaches the page once.
DWORD lastForwardedKeyTime = 0;

const uint32_t keyTable[59] = {
    0,                                                                   // never used
    VK_BACK,     VK_TAB,     VK_CLEAR,    VK_RETURN,  VK_PAUSE,   VK_ESCAPE, VK_SPACE,
    VK_NEXT,     VK_END,     VK_HOME,     VK_LEFT,    VK_UP,      VK_RIGHT,  VK_DOWN,
    VK_PRIOR,    VK_NEXT,    VK_SELECT,   VK_PRINT,   VK_RETURN,  VK_SNAPSHOT, VK_INSERT,
    VK_DELETE,   VK_HELP,
    VK_NUMPAD0,  VK_NUMPAD1, VK_NUMPAD2,  VK_NUMPAD3, VK_NUMPAD4, VK_NUMPAD5, VK_NUMPAD6,
    VK_NUMPAD7,  VK_NUMPAD8, VK_NUMPAD9,
    VK_MULTIPLY, VK_ADD,     VK_SEPARATOR, VK_SUBTRACT, VK_DECIMAL, VK_DIVIDE,
    VK_F1,       VK_F2,      VK_F3,       VK_F4,      VK_F5,      VK_F6,     VK_F7,
    VK_F8,       VK_F9,      VK_F10,      VK_F11,     VK_F12,
    VK_NUMLOCK,  VK_SCROLL,  VK_SHIFT,    VK_CONTROL, VK_MENU,
    0xFFFFFFFFu, 0xFFFFFFFEu,
};

}  // namespace

PluginViewBase::PluginViewBase(const ViewRect* rect) : rect_{0, 0, 0, 0} {
    if (rect) rect_ = *rect;
}

const InterfaceEntry* PluginViewBase::interfaceTable() {
    static const InterfaceEntry table[] = {
        entry<IModuleView>(hostid::IUnknown.bytes()),
        entry<IModuleView>(hostid::IModuleView.bytes()),
        end(),
    };
    return table;
}

HRESULT STDMETHODCALLTYPE PluginViewBase::attachToParent(HWND parent) {
    parent_ = parent;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginViewBase::detachFromParent() {
    parent_ = nullptr;
    return S_OK;
}

int32_t STDMETHODCALLTYPE PluginViewBase::reserved5() { return 1; }

int32_t STDMETHODCALLTYPE PluginViewBase::reserved6(uint32_t) { return 1; }

uint32_t PluginViewBase::virtualKeyFor(int32_t hostKeyCode) {
    if (hostKeyCode < 1 || hostKeyCode > 58) return 0;
    return keyTable[hostKeyCode];
}

int32_t STDMETHODCALLTYPE PluginViewBase::forwardKey(int32_t character, int32_t keyCode, int32_t) {
    HWND focus = GetFocus();
    if (!focus) return 0;
    // The parent is not its own descendant, and a null parent has none.
    if (!IsChild(parent_, focus)) return 0;
    if (GetTickCount() - lastForwardedKeyTime <= 5) return 0;
    lastForwardedKeyTime = GetTickCount();

    uint8_t c = uint8_t(character & 0xFF);
    if (c != 0) {
        BYTE state[256];
        WORD chars = 0;
        int n = 0;
        if (GetKeyboardState(state)) {
            UINT vk = UINT(int32_t(int16_t(VkKeyScanA(char(c)))));
            n = ToAscii(vk, 0, state, &chars, 0);
        }
        if (n > 2) n = 2;  // the output holds two bytes
        WPARAM w = WPARAM(int32_t(int8_t(c)));
        PostMessageA(focus, WM_KEYDOWN, w, 0);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&chars);
        for (int i = 0; i < n; ++i) PostMessageA(focus, WM_CHAR, bytes[i], 0);
        PostMessageA(focus, WM_KEYUP, w, 0);
        return 0;
    }
    if (keyCode < 1 || keyCode > 58) return 0;
    uint32_t vk = virtualKeyFor(keyCode);
    PostMessageA(focus, WM_KEYDOWN, vk, 256);
    PostMessageA(focus, WM_KEYUP, vk, 0);
    return 0;
}

HRESULT STDMETHODCALLTYPE PluginViewBase::setViewRect(const ViewRect* rect) {
    if (rect) rect_ = *rect;
    return S_OK;
}
