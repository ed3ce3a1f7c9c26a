#include "common/ParameterPage.h"

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "common/ServerModule.h"

namespace {

const char kWindowClass[] = "PalisanderSampleFilterPage";
const int kMargin = 8;

bool registerWindowClass(WNDPROC proc) {
    WNDCLASSA existing;
    if (GetClassInfoA(server::instance(), kWindowClass, &existing)) return true;
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = server::instance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    return RegisterClassA(&wc) != 0;
}

HWND child(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w, int h, int id) {
    HWND w_ = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), server::instance(), nullptr);
    if (w_) SendMessageA(w_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return w_;
}

// A whole decimal integer, sign allowed, nothing else.
bool parseInteger(const char* text, int32_t* value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0') return false;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

}  // namespace

ParameterPage::ParameterPage(const wchar_t* title) : title_(title) { server::objectCreated(); }

ParameterPage::~ParameterPage() {
    Deactivate();
    server::objectDestroyed();
}

HRESULT STDMETHODCALLTYPE ParameterPage::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &comid::IPropertyPage)) {
        *out = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ParameterPage::AddRef() { return InterlockedIncrement(&refCount_); }

ULONG STDMETHODCALLTYPE ParameterPage::Release() {
    LONG n = InterlockedDecrement(&refCount_);
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE ParameterPage::SetPageSite(IPropertyPageSite* site) {
    if (site) site->AddRef();
    site_.reset(site);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (window_) return E_UNEXPECTED;
    if (!parent || !IsWindow(parent)) return E_INVALIDARG;
    if (!registerWindowClass(windowProc)) return E_FAIL;
    RECT r = rect ? *rect : RECT{0, 0, kWidth, height()};
    window_ = CreateWindowExA(WS_EX_CONTROLPARENT, kWindowClass, "", WS_CHILD | WS_CLIPCHILDREN, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, parent, nullptr, server::instance(), nullptr);
    if (!window_) return E_FAIL;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    buildRows();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::Deactivate() {
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    window_ = nullptr;
    for (Row& row : rows_) row.edit = row.arrows = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    size_t bytes = (wcslen(title_) + 1) * sizeof(wchar_t);
    LPOLESTR title = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!title) return E_OUTOFMEMORY;
    memcpy(title, title_, bytes);
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = title;
    info->size.cx = kWidth;
    info->size.cy = height();
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::SetObjects(ULONG count, IUnknown** objects) {
    target_.reset();
    rows_.clear();
    if (count == 0) return S_OK;
    if (!objects || !objects[0]) return E_POINTER;
    HRESULT hr = objects[0]->QueryInterface(IID_ISampleParameters, target_.putVoid());
    if (FAILED(hr)) return hr;
    int32_t n = target_->parameterCount();
    for (int32_t i = 0; i < n; ++i) {
        Row row{};
        if (SUCCEEDED(target_->parameterInfo(i, &row.info))) rows_.push_back(row);
    }
    if (window_) buildRows();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::Show(UINT command) {
    if (!window_) return E_UNEXPECTED;
    ShowWindow(window_, command);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterPage::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!window_) return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

// Changes are applied as they are typed, so nothing is ever pending.
HRESULT STDMETHODCALLTYPE ParameterPage::IsPageDirty() { return S_FALSE; }
HRESULT STDMETHODCALLTYPE ParameterPage::Apply() { return S_OK; }
HRESULT STDMETHODCALLTYPE ParameterPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE ParameterPage::TranslateAccelerator(MSG* message) {
    if (!message) return E_POINTER;
    if (window_ && IsDialogMessageA(window_, message)) return S_OK;
    return S_FALSE;
}

void ParameterPage::unregisterWindowClass() { UnregisterClassA(kWindowClass, server::instance()); }

int ParameterPage::height() const {
    size_t n = rows_.empty() ? 1 : rows_.size();
    return static_cast<int>(2 * kMargin + n * kRowHeight);
}

void ParameterPage::buildRows() {
    // Controls of an earlier object set go first.
    HWND old;
    while ((old = GetWindow(window_, GW_CHILD)) != nullptr) DestroyWindow(old);
    for (size_t i = 0; i < rows_.size(); ++i) {
        Row& row = rows_[i];
        int y = kMargin + static_cast<int>(i) * kRowHeight;
        int id = 100 + static_cast<int>(i);
        child(window_, "STATIC", row.info.label, SS_LEFT, kMargin, y + 3, 130, 20, 0);
        row.edit = child(window_, "EDIT", "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 140, y, 70, 22, id);
        row.arrows = child(window_, UPDOWN_CLASSA, "",
                           UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, 0, 0, 0, 0);
        if (row.arrows) {
            SendMessageA(row.arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(row.edit), 0);
            SendMessageA(row.arrows, UDM_SETRANGE32, row.info.minimum, row.info.maximum);
        }
        char range[48];
        snprintf(range, sizeof range, "%ld .. %ld", static_cast<long>(row.info.minimum),
                 static_cast<long>(row.info.maximum));
        child(window_, "STATIC", range, SS_LEFT, 222, y + 3, 70, 20, 0);
    }
    showValues();
}

void ParameterPage::showValues() {
    if (!target_) return;
    updating_ = true;
    for (size_t i = 0; i < rows_.size(); ++i) {
        int32_t v = 0;
        if (FAILED(target_->getParameter(static_cast<int32_t>(i), &v))) continue;
        char text[16];
        snprintf(text, sizeof text, "%ld", static_cast<long>(v));
        SetWindowTextA(rows_[i].edit, text);
        if (rows_[i].arrows) SendMessageA(rows_[i].arrows, UDM_SETPOS32, 0, v);
    }
    updating_ = false;
}

void ParameterPage::editChanged(size_t row) {
    if (updating_ || !target_ || row >= rows_.size()) return;
    char text[32];
    GetWindowTextA(rows_[row].edit, text, sizeof text);
    int32_t v;
    // An incomplete or out-of-range entry is left for the user to finish; the filter refuses it anyway.
    if (!parseInteger(text, &v)) return;
    if (SUCCEEDED(target_->setParameter(static_cast<int32_t>(row), v)) && site_)
        site_->OnStatusChange(PROPPAGESTATUS_VALIDATE);
}

LRESULT CALLBACK ParameterPage::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ParameterPage* page = reinterpret_cast<ParameterPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (page && message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        int id = LOWORD(wParam);
        if (id >= 100) page->editChanged(static_cast<size_t>(id - 100));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HRESULT createParameterPage(const wchar_t* title, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ParameterPage* page = new (std::nothrow) ParameterPage(title);
    if (!page) return E_OUTOFMEMORY;
    HRESULT hr = page->QueryInterface(iid, out);
    page->Release();
    return hr;
}
