#include "editor/PropertyPageView.h"

#include <new>

#include "guard/Guard.h"
#include "interfaces/ComExtras.h"

namespace {

// The three strings a page hands out with its information record.
void freePageInfoStrings(PROPPAGEINFO& info) {
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
}

// Gives the page the filter's IUnknown as its one object. A provider that does not
// answer IUnknown gets no SetObjects call rather than an array holding null.
void setFilterObject(IPropertyPage* page, ISpecifyPropertyPages* provider) {
    IUnknown* filter = nullptr;
    provider->QueryInterface(comid::IUnknown, reinterpret_cast<void**>(&filter));
    if (!filter) return;
    // Our own reference goes back even when the page faults; the fault then ends the caller's guard.
    const bool ok = guard::call([&] { page->SetObjects(1, &filter); });
    filter->Release();
    if (!ok) RaiseException(guard::lastCaughtCode(), EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// The first CLSID the provider lists, created as a page; null when there is none.
// Runs inside the caller's guard.
HRESULT createFirstPage(ISpecifyPropertyPages* provider, CAUUID& list, IPropertyPage** out) {
    *out = nullptr;
    if (FAILED(provider->GetPages(&list)) || list.cElems == 0 || !list.pElems) return E_FAIL;
    IPropertyPage* created = nullptr;
    HRESULT hr = CoCreateInstance(list.pElems[0], nullptr, CLSCTX_INPROC_SERVER, comid::IPropertyPage,
                                  reinterpret_cast<void**>(&created));
    if (hr == S_OK && created) {
        *out = created;
        return S_OK;
    }
    if (SUCCEEDED(hr) && created) created->Release();
    return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace

PropertyPageView::PropertyPageView(const ViewRect* rect, ISpecifyPropertyPages* provider)
    : PluginViewBase(rect), provider_(provider) {
    if (provider_) guard::call([&] { provider_->AddRef(); });
}

PropertyPageView::~PropertyPageView() {
    dying_ = true;
    closePage();
    if (provider_) guard::call([&] { provider_->Release(); });
}

HRESULT STDMETHODCALLTYPE PropertyPageView::attachToParent(HWND parent) {
    // A second attach without a detach would otherwise leak the first page and its window.
    closePage();
    parent_ = parent;
    if (!provider_) return E_FAIL;

    HRESULT result = E_UNEXPECTED;
    guard::call([&] {
        CAUUID list = {0, nullptr};
        result = createFirstPage(provider_, list, &page_);
        if (result == S_OK) {
            page_->SetPageSite(site());
            setFilterObject(page_, provider_);
            PROPPAGEINFO info = {};
            info.cb = sizeof info;
            if (SUCCEEDED(page_->GetPageInfo(&info))) {
                freePageInfoStrings(info);
            } else {
                // Without the page's own size the page takes the view's extent.
                info.size.cx = rect_.right - rect_.left;
                info.size.cy = rect_.bottom - rect_.top;
            }
            RECT placed;
            SetRect(&placed, 0, 0, info.size.cx, info.size.cy);
            page_->Activate(parent, &placed, FALSE);
            page_->Show(SW_SHOW);
        }
        CoTaskMemFree(list.pElems);
    });
    // After a fault the page, once created, stays held for the detach to close.
    return page_ ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE PropertyPageView::detachFromParent() {
    closePage();
    parent_ = nullptr;
    return S_OK;
}

void PropertyPageView::closePage() {
    if (!page_) return;
    IPropertyPage* page = page_;
    page_ = nullptr;
    guard::call([&] {
        page->Show(SW_HIDE);
        page->Deactivate();
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
        page->Release();
    });
}

bool PropertyPageView::probePageSize(ISpecifyPropertyPages* provider, int32_t* width, int32_t* height) {
    if (!provider || !width || !height) return false;
    bool stored = false;
    guard::call([&] {
        CAUUID list = {0, nullptr};
        IPropertyPage* page = nullptr;
        if (createFirstPage(provider, list, &page) == S_OK) {
            PropertyPageView* probe = new (std::nothrow) PropertyPageView(nullptr, nullptr);
            if (!probe) {
                page->Release();
            } else {
                IPropertyPageSite* site = probe->site();
                page->SetPageSite(site);
                setFilterObject(page, provider);
                PROPPAGEINFO info = {};
                info.cb = sizeof info;
                if (SUCCEEDED(page->GetPageInfo(&info))) {
                    *width = info.size.cx;
                    *height = info.size.cy;
                    freePageInfoStrings(info);
                    stored = true;
                }
                page->SetObjects(0, nullptr);
                page->SetPageSite(nullptr);
                page->Release();
                // The page has given back its own site references: this one destroys the probe view.
                site->Release();
            }
        }
        CoTaskMemFree(list.pElems);
    });
    return stored;
}

HRESULT PropertyPageView::siteQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameGuid(&iid, comid::IUnknown) || sameGuid(&iid, comid::IPropertyPageSite)) {
        *out = site();
        ++siteCount_;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG PropertyPageView::siteAddRef() { return ++siteCount_; }

ULONG PropertyPageView::siteRelease() {
    LONG count = --siteCount_;
    if (count <= 0) {
        if (!dying_) delete this;
        return 0;
    }
    return count;
}

HRESULT STDMETHODCALLTYPE PropertyPageView::OnStatusChange(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE PropertyPageView::GetLocaleID(LCID* out) {
    if (!out) return E_POINTER;
    *out = GetThreadLocale();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageView::GetPageContainer(IUnknown**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PropertyPageView::TranslateAccelerator(MSG*) { return E_NOTIMPL; }
