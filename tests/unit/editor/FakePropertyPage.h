// A fake filter side for the editor tests: a property page COM class registered for
// this process (so CoCreateInstance finds it), and a page provider. Both record
// every call in one log and can be told to fault at one chosen call.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace fake {

inline const GUID pageA = {0x5A1E0001, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x01}};
inline const GUID pageB = {0x5A1E0002, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x02}};
inline const GUID notRegistered = {0x5A1E0003, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x03}};

enum class Fault { AccessViolation, CxxRaise };

// What the next pages do; reset by each test.
struct Script {
    LONG width = 320;
    LONG height = 240;
    HRESULT pageInfoResult = S_OK;
    std::string faultAt;  // the log entry at which to fault, once
    Fault faultKind = Fault::AccessViolation;
};

class Page;

struct World {
    Script script;
    std::vector<std::string> log;
    int livePages = 0;
    Page* lastPage = nullptr;
};
extern World world;
void resetWorld();

// Appends entry to the log; faults when it is the scripted entry.
void record(const char* entry);

class Page final : public IPropertyPage {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT) override { record("Move"); return S_OK; }
    HRESULT STDMETHODCALLTYPE IsPageDirty() override { record("IsPageDirty"); return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Apply() override { record("Apply"); return S_OK; }
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }

    Page();
    ~Page();

    LONG count = 0;
    IPropertyPageSite* site = nullptr;
    IUnknown* object = nullptr;  // not held: only compared
    HWND window = nullptr;       // the page's child window, with an EDIT inside
    HWND edit = nullptr;
    HWND activatedParent = nullptr;
    RECT activatedRect = {-1, -1, -1, -1};
};

// Registers the page class under pageA and pageB for the test's lifetime.
class PageClassRegistration {
public:
    PageClassRegistration();
    ~PageClassRegistration();

private:
    DWORD cookies_[2] = {0, 0};
};

class Provider : public ISpecifyPropertyPages {
public:
    explicit Provider(std::vector<GUID> pages) : pages(std::move(pages)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* out) override;

    std::vector<GUID> pages;
    HRESULT getPagesResult = S_OK;
    LONG count = 1;
};

}  // namespace fake
