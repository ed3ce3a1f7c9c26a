// The test filter's property page: a real child window with an edit control, a page
// size the test chooses, and a log entry for every call.
#pragma once

#include "ControlState.h"
#include "interfaces/ComExtras.h"

namespace testfilter {

class TestPropertyPage final : public IPropertyPage {
public:
    explicit TestPropertyPage(const GUID& clsid);

    // Window and edit control of the page that was activated last, while they exist.
    static HWND lastWindow();
    static HWND lastEdit();
    // Unregisters the window class when the DLL goes (no page window may be left).
    static void unregisterWindowClass();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

private:
    ~TestPropertyPage();
    size_t note(int32_t site, const std::string& text, std::initializer_list<int32_t> args = {});
    void destroyWindow();
    void setSite(IPropertyPageSite* site);
    void setObject(IUnknown* object);

    LONG refs_ = 1;
    GUID clsid_;
    int32_t serial_;
    ComRef<IPropertyPageSite> site_;
    ComRef<IUnknown> object_;
    HWND window_ = nullptr;
    HWND edit_ = nullptr;
};

}  // namespace testfilter
