// The host's view object with default behaviour; PropertyPageView builds on it.
#pragma once

#include <windows.h>
#include <cstdint>

#include "host/ComObject.h"
#include "interfaces/HostInterfaces.h"

class PluginViewBase : public ComObject<PluginViewBase, lifetime::Counted, IModuleView> {
public:
    // A null rectangle leaves all four integers 0.
    explicit PluginViewBase(const ViewRect* rect = nullptr);

    static const InterfaceEntry* interfaceTable();

    HRESULT STDMETHODCALLTYPE attachToParent(HWND parent) override;
    HRESULT STDMETHODCALLTYPE detachFromParent() override;
    int32_t STDMETHODCALLTYPE reserved5() override;
    int32_t STDMETHODCALLTYPE reserved6(uint32_t arg) override;
    int32_t STDMETHODCALLTYPE forwardKey(int32_t character, int32_t keyCode, int32_t modifiers) override;
    HRESULT STDMETHODCALLTYPE setViewRect(const ViewRect* rect) override;

    HWND parentWindow() const { return parent_; }
    const ViewRect& viewRect() const { return rect_; }

    // The host's last view Release.
    virtual void lastReleased() { delete this; }

    // Windows virtual key for a host key code 1 to 58; 0 outside that range.
    static uint32_t virtualKeyFor(int32_t hostKeyCode);

protected:
    ViewRect rect_;
    HWND parent_ = nullptr;
};
