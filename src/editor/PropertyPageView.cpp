#include "editor/PropertyPageView.h"

#include <new>
#include <utility>

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

PropertyPageView::PropertyPageView(const ViewRect* rect, ISpecifyPropertyPages* provider) : PluginViewBase(rect) {
    if (provider) guard::call([&] { provider_.share(provider); });
}

PropertyPageView::~PropertyPageView() {
    dying_ = true;
    closePage();
    guard::release(provider_);
}

void PropertyPageView::lastReleased() {
    // A host that releases once too often must not close or destroy twice.
    if (!viewHeld_) return;
    viewHeld_ = false;
    closing_ = true;
    closePage();
    closing_ = false;
    destroyIfUnused();
}

void PropertyPageView::destroyIfUnused() {
    if (!viewHeld_ && siteRefs_ <= 0 && !closing_ && !dying_) delete this;
}

HRESULT STDMETHODCALLTYPE PropertyPageView::attachToParent(HWND parent) {
    // A second attach without a detach would otherwise leak the first page and its window.
    closePage();
    parent_ = parent;
    if (!provider_) return E_FAIL;

    HRESULT result = E_UNEXPECTED;
    ISpecifyPropertyPages* provider = provider_.get();
    IPropertyPage** pageOut = page_.put();
    guard::call([&] {
        CAUUID list = {0, nullptr};
        result = createFirstPage(provider, list, pageOut);
        IPropertyPage* page = *pageOut;
        if (result == S_OK) {
            page->SetPageSite(site());
            setFilterObject(page, provider);
            PROPPAGEINFO info = {};
            info.cb = sizeof info;
            if (SUCCEEDED(page->GetPageInfo(&info))) {
                freePageInfoStrings(info);
            } else {
                // Without the page's own size the page takes the view's extent.
                info.size.cx = rect_.right - rect_.left;
                info.size.cy = rect_.bottom - rect_.top;
            }
            RECT placed;
            SetRect(&placed, 0, 0, info.size.cx, info.size.cy);
            page->Activate(parent, &placed, FALSE);
            page->Show(SW_SHOW);
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
    ComRef<IPropertyPage> closing(std::move(page_));
    IPropertyPage* page = closing.get();
    const bool closed = guard::call([&] {
        page->Show(SW_HIDE);
        page->Deactivate();
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
        closing.reset();
    });
    // A page that faulted while closing is not called again, not even to release it.
    if (!closed) closing.detach();
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
                // Destroys the probe view, or leaves it to a page that still holds the site.
                probe->view()->Release();
            }
        }
        CoTaskMemFree(list.pElems);
    });
    return stored;
}

HRESULT PropertyPageView::siteQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (sameId(&iid, &comid::IUnknown) || sameId(&iid, &comid::IPropertyPageSite)) {
        *out = site();
        siteAddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG PropertyPageView::siteAddRef() { return ULONG(++siteRefs_ + (viewHeld_ ? 1 : 0)); }

ULONG PropertyPageView::siteRelease() {
    // A page that releases once too often cannot take the view's share.
    if (siteRefs_ > 0) --siteRefs_;
    const ULONG count = ULONG(siteRefs_ + (viewHeld_ ? 1 : 0));
    destroyIfUnused();
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
