#include "TestPropertyPage.h"

#include "TestFilter.h"

#include <algorithm>
#include <cstring>

namespace testfilter {
namespace {

const char windowClass[] = "PalisanderTestFilterPage";
ATOM classAtom = 0;
HWND lastWindow_ = nullptr;
HWND lastEdit_ = nullptr;

LRESULT CALLBACK pageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE:
        InterlockedIncrement(&state().pageWindowsAlive);
        break;
    case WM_NCDESTROY:
        InterlockedDecrement(&state().pageWindowsAlive);
        if (window == lastWindow_) {
            lastWindow_ = nullptr;
            lastEdit_ = nullptr;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

WNDPROC editDefault = nullptr;

// Logs the key messages that reach the edit control, as forwarded keys arrive there.
LRESULT CALLBACK editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const char* name = message == WM_KEYDOWN ? "keyDown" : message == WM_CHAR ? "char" : message == WM_KEYUP ? "keyUp" : nullptr;
    if (name) {
        int32_t w = static_cast<int32_t>(wParam), l = static_cast<int32_t>(lParam);
        int32_t serial = static_cast<int32_t>(GetWindowLongPtrA(window, GWLP_USERDATA));
        logCall(serial, TfPageKey, comid::Null, format("page.%s(%d,%d)", name, w, l), {w, l});
    }
    return CallWindowProcA(editDefault, window, message, wParam, lParam);
}

bool ensureWindowClass() {
    if (classAtom) return true;
    WNDCLASSA wc{};
    wc.lpfnWndProc = pageProc;
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = windowClass;
    classAtom = RegisterClassA(&wc);
    return classAtom != 0;
}

LPOLESTR taskString(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPOLESTR s = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (s) std::memcpy(s, text, bytes);
    return s;
}

}  // namespace

TestPropertyPage::TestPropertyPage(const GUID& clsid) : clsid_(clsid), serial_(++state().pageSerial) {
    InterlockedIncrement(&state().pagesAlive);
    ++state().pagesCreated;
}

TestPropertyPage::~TestPropertyPage() {
    destroyWindow();
    setSite(nullptr);
    setObject(nullptr);
    InterlockedDecrement(&state().pagesAlive);
}

HWND TestPropertyPage::lastWindow() { return lastWindow_; }
HWND TestPropertyPage::lastEdit() { return lastEdit_; }

void TestPropertyPage::unregisterWindowClass() {
    if (classAtom && UnregisterClassA(windowClass, moduleInstance())) classAtom = 0;
}

size_t TestPropertyPage::note(int32_t site, const std::string& text, std::initializer_list<int32_t> args) {
    return logCall(serial_, site, clsid_, "page." + text, args);
}

void TestPropertyPage::destroyWindow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = nullptr;
    edit_ = nullptr;
}

void TestPropertyPage::setSite(IPropertyPageSite* site) {
    if (site) {
        site->AddRef();
        InterlockedIncrement(&state().siteRefsHeld);
    }
    if (site_) InterlockedDecrement(&state().siteRefsHeld);
    site_.reset(site);
}

void TestPropertyPage::setObject(IUnknown* object) {
    if (object) {
        object->AddRef();
        InterlockedIncrement(&state().objectRefsHeld);
    }
    if (object_) InterlockedDecrement(&state().objectRefsHeld);
    object_.reset(object);
}

HRESULT TestPropertyPage::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(iid, comid::IUnknown) && !IsEqualGUID(iid, comid::IPropertyPage)) return E_NOINTERFACE;
    *out = static_cast<IPropertyPage*>(this);
    AddRef();
    return S_OK;
}

ULONG TestPropertyPage::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG TestPropertyPage::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n != 0) return static_cast<ULONG>(n);
    note(TfPageDestroy, "destroy");
    delete this;
    raiseIfScripted(TfPageDestroy);
    return 0;
}

HRESULT TestPropertyPage::SetPageSite(IPropertyPageSite* site) {
    note(TfPageSetPageSite, site ? "SetPageSite(site)" : "SetPageSite(null)");
    raiseIfScripted(TfPageSetPageSite);
    setSite(site);
    misbehaveWith(TfPageSetPageSite, {site});
    return scriptedResult(TfPageSetPageSite);
}

HRESULT TestPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL modal) {
    RECT r = rect ? *rect : RECT{-1, -1, -1, -1};
    note(TfPageActivate, format("Activate(%ld,%ld,%ld,%ld,%d)", r.left, r.top, r.right, r.bottom, modal ? 1 : 0),
         {static_cast<int32_t>(r.left), static_cast<int32_t>(r.top), static_cast<int32_t>(r.right),
          static_cast<int32_t>(r.bottom), modal ? 1 : 0, static_cast<int32_t>(reinterpret_cast<uintptr_t>(parent))});
    misbehaveWith(TfPageActivate, {});
    raiseIfScripted(TfPageActivate);
    HRESULT hr = scriptedResult(TfPageActivate);
    if (hr != S_OK) return hr;
    if (!rect) return E_POINTER;
    if (!parent || !IsWindow(parent) || !ensureWindowClass()) return E_INVALIDARG;
    destroyWindow();
    window_ = CreateWindowExA(WS_EX_CONTROLPARENT, windowClass, "", WS_CHILD | WS_CLIPCHILDREN, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, parent, nullptr, moduleInstance(), nullptr);
    if (!window_) return E_FAIL;
    edit_ = CreateWindowExA(0, "EDIT", "test filter", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 8, 8,
                            std::max<LONG>(r.right - r.left - 16, 16), 24, window_, nullptr, moduleInstance(),
                            nullptr);
    if (edit_) {
        SetWindowLongPtrA(edit_, GWLP_USERDATA, serial_);
        WNDPROC previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&editProc)));
        if (!editDefault) editDefault = previous;
    }
    lastWindow_ = window_;
    lastEdit_ = edit_;
    return S_OK;
}

HRESULT TestPropertyPage::Deactivate() {
    note(TfPageDeactivate, "Deactivate");
    misbehaveWith(TfPageDeactivate, {});
    raiseIfScripted(TfPageDeactivate);
    destroyWindow();
    return scriptedResult(TfPageDeactivate);
}

HRESULT TestPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    note(TfPageGetPageInfo, format("GetPageInfo(%d)", info ? static_cast<int32_t>(info->cb) : -1),
         {info ? static_cast<int32_t>(info->cb) : -1});
    misbehaveWith(TfPageGetPageInfo, {});
    raiseIfScripted(TfPageGetPageInfo);
    if (!info) return E_POINTER;
    HRESULT hr = scriptedResult(TfPageGetPageInfo);
    if (hr != S_OK) return hr;
    info->cb = sizeof(PROPPAGEINFO);
    if (misbehaviour(TfPageGetPageInfo) == TfMisPageSize) {
        state().pageWidth += 97;
        state().pageHeight += 61;
    }
    info->pszTitle = taskString(L"Test Filter");
    info->size.cx = state().pageWidth;
    info->size.cy = state().pageHeight;
    info->pszDocString = taskString(L"The test filter's page");
    info->pszHelpFile = taskString(L"testfilter.hlp");
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT TestPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    int32_t filter = count && objects ? TestFilter::serialOf(objects[0]) : 0;
    note(TfPageSetObjects, format("SetObjects(%lu,filter#%d)", count, filter),
         {static_cast<int32_t>(count), filter});
    raiseIfScripted(TfPageSetObjects);
    if (count && !objects) return E_POINTER;
    setObject(count ? objects[0] : nullptr);
    misbehaveWith(TfPageSetObjects, {count ? objects[0] : nullptr});
    return scriptedResult(TfPageSetObjects);
}

HRESULT TestPropertyPage::Show(UINT command) {
    note(TfPageShow, format("Show(%u)", command), {static_cast<int32_t>(command)});
    misbehaveWith(TfPageShow, {});
    raiseIfScripted(TfPageShow);
    if (window_) ShowWindow(window_, static_cast<int>(command));
    return scriptedResult(TfPageShow);
}

HRESULT TestPropertyPage::Move(LPCRECT rect) {
    RECT r = rect ? *rect : RECT{-1, -1, -1, -1};
    note(TfPageMove, format("Move(%ld,%ld,%ld,%ld)", r.left, r.top, r.right, r.bottom));
    misbehaveWith(TfPageMove, {});
    raiseIfScripted(TfPageMove);
    if (!rect) return E_POINTER;
    if (window_) MoveWindow(window_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    return scriptedResult(TfPageMove);
}

HRESULT TestPropertyPage::IsPageDirty() {
    note(TfPageIsPageDirty, "IsPageDirty");
    misbehaveWith(TfPageIsPageDirty, {});
    raiseIfScripted(TfPageIsPageDirty);
    return S_FALSE;
}

HRESULT TestPropertyPage::Apply() {
    note(TfPageApply, "Apply");
    misbehaveWith(TfPageApply, {});
    raiseIfScripted(TfPageApply);
    return scriptedResult(TfPageApply);
}

HRESULT TestPropertyPage::Help(LPCOLESTR) {
    note(TfPageHelp, "Help");
    misbehaveWith(TfPageHelp, {});
    raiseIfScripted(TfPageHelp);
    return E_NOTIMPL;
}

HRESULT TestPropertyPage::TranslateAccelerator(MSG* message) {
    note(TfPageTranslateAccelerator,
         format("TranslateAccelerator(%u,%u)", message ? message->message : 0u,
                message ? static_cast<unsigned>(message->wParam) : 0u));
    misbehaveWith(TfPageTranslateAccelerator, {});
    raiseIfScripted(TfPageTranslateAccelerator);
    return S_FALSE;
}

}  // namespace testfilter
