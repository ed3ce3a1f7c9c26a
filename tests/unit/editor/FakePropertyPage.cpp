#include "FakePropertyPage.h"

#include <cstdint>
#include <cstring>

#include "interfaces/ComExtras.h"
#include "testfilter/Emulation.h"

namespace fake {

World world;

void resetWorld() { world = World(); }

void record(const char* entry) {
    world.log.push_back(entry);
    if (!world.script.faultAt.empty() && world.script.faultAt == entry) {
        world.script.faultAt.clear();
        if (world.script.faultKind == Fault::AccessViolation) {
            emulation::accessViolation();
        } else {
            RaiseException(0xE06D7363, 0, 0, nullptr);
        }
    }
}

namespace {

LPOLESTR taskString(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    std::memcpy(copy, text, bytes);
    return copy;
}

const char* pageWindowClass() {
    static ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "PalTestPage";
        return RegisterClassA(&wc);
    }();
    (void)atom;
    return "PalTestPage";
}

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (sameId(&iid, &comid::IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        record("CreateInstance");
        if (outer) return CLASS_E_NOAGGREGATION;
        Page* page = new Page;
        HRESULT hr = page->QueryInterface(iid, out);
        if (FAILED(hr)) delete page;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

Page::Page() {
    ++world.livePages;
    world.lastPage = this;
}

Page::~Page() {
    --world.livePages;
    if (world.lastPage == this) world.lastPage = nullptr;
}

HRESULT STDMETHODCALLTYPE Page::QueryInterface(REFIID iid, void** out) {
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &comid::IPropertyPage)) {
        *out = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE Page::AddRef() { return ++count; }

ULONG STDMETHODCALLTYPE Page::Release() {
    record("Release");
    LONG left = --count;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE Page::SetPageSite(IPropertyPageSite* newSite) {
    record(newSite ? "SetPageSite(site)" : "SetPageSite(null)");
    if (newSite) newSite->AddRef();
    if (site) site->Release();
    site = newSite;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Page::Activate(HWND parent, LPCRECT rect, BOOL) {
    record("Activate");
    activatedParent = parent;
    activatedRect = *rect;
    window = CreateWindowExA(0, pageWindowClass(), "page", WS_CHILD | WS_CLIPCHILDREN, rect->left, rect->top,
                             rect->right - rect->left, rect->bottom - rect->top, parent, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 8, 8, 120, 22, window, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    return window && edit ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE Page::Deactivate() {
    record("Deactivate");
    if (window) DestroyWindow(window);
    window = edit = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Page::GetPageInfo(PROPPAGEINFO* info) {
    record(info->cb == 28 ? "GetPageInfo" : "GetPageInfo(bad size)");
    if (FAILED(world.script.pageInfoResult)) return world.script.pageInfoResult;
    info->pszTitle = taskString(L"Fake");
    info->pszDocString = taskString(L"doc");
    info->pszHelpFile = taskString(L"help");
    info->size.cx = world.script.width;
    info->size.cy = world.script.height;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Page::SetObjects(ULONG n, IUnknown** objects) {
    record(n == 1 ? "SetObjects(1)" : n == 0 ? "SetObjects(0)" : "SetObjects(n)");
    object = n == 1 ? objects[0] : nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Page::Show(UINT command) {
    record(command == SW_SHOW ? "Show(SW_SHOW)" : command == SW_HIDE ? "Show(SW_HIDE)" : "Show(other)");
    if (window) ShowWindow(window, command);
    return S_OK;
}

PageClassRegistration::PageClassRegistration() {
    CoRegisterClassObject(pageA, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookies_[0]);
    CoRegisterClassObject(pageB, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookies_[1]);
}

PageClassRegistration::~PageClassRegistration() {
    for (DWORD cookie : cookies_)
        if (cookie) CoRevokeClassObject(cookie);
}

HRESULT STDMETHODCALLTYPE Provider::QueryInterface(REFIID iid, void** out) {
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &comid::ISpecifyPropertyPages)) {
        *out = static_cast<ISpecifyPropertyPages*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE Provider::GetPages(CAUUID* out) {
    record("GetPages");
    if (FAILED(getPagesResult)) return getPagesResult;
    out->cElems = ULONG(pages.size());
    out->pElems = nullptr;
    if (!pages.empty()) {
        out->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * pages.size()));
        std::memcpy(out->pElems, pages.data(), sizeof(GUID) * pages.size());
    }
    return S_OK;
}

}  // namespace fake
