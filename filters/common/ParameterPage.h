// The property page of a sample filter: a child window with one row per integer
// parameter (label, edit box with up-down arrows, range), applied to the filter
// as soon as the edit holds a valid value.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <vector>

#include "common/SampleParameters.h"
#include "interfaces/ComExtras.h"

class ParameterPage : public IPropertyPage {
public:
    explicit ParameterPage(const wchar_t* title);
    virtual ~ParameterPage();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

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

    // Unregisters the page window class (at DLL unload).
    static void unregisterWindowClass();

    static constexpr int kWidth = 300;
    static constexpr int kRowHeight = 30;

private:
    struct Row {
        ParameterInfo info;
        HWND edit;
        HWND arrows;
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void buildRows();
    void editChanged(size_t row);
    void showValues();
    int height() const;

    volatile LONG refCount_ = 1;
    const wchar_t* title_;
    ComRef<IPropertyPageSite> site_;
    ComRef<ISampleParameters> target_;
    HWND window_ = nullptr;
    std::vector<Row> rows_;
    bool updating_ = false;
};

// Creates a page with the given title and queries it for iid.
HRESULT createParameterPage(const wchar_t* title, REFIID iid, void** out);
