// The "propertyPages" view: shows the filter's first OLE property page inside the
// host's window and is the page's site.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <cstdint>

#include "editor/PluginViewBase.h"
#include "interfaces/ComExtras.h"

// The page-site part of PropertyPageView under names of its own, so that its
// QueryInterface, AddRef and Release stay apart from the view's.
class PropertyPageSitePart : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) final { return siteQueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() final { return siteAddRef(); }
    ULONG STDMETHODCALLTYPE Release() final { return siteRelease(); }

protected:
    virtual HRESULT siteQueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG siteAddRef() = 0;
    virtual ULONG siteRelease() = 0;
};

class PropertyPageView : public PluginViewBase, public PropertyPageSitePart {
public:
    // Both arguments may be null. The view holds its own reference on the provider.
    PropertyPageView(const ViewRect* rect, ISpecifyPropertyPages* provider);
    // Gives back the provider.
    ~PropertyPageView() override;

    // The host is done with the view: the page is closed, and the object lives on
    // while the page still holds the site.
    void lastReleased() override;

    using PluginViewBase::AddRef;
    using PluginViewBase::QueryInterface;
    using PluginViewBase::Release;

    HRESULT STDMETHODCALLTYPE attachToParent(HWND parent) override;
    HRESULT STDMETHODCALLTYPE detachFromParent() override;

    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* out) override;
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** out) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

    IModuleView* view() { return this; }
    IPropertyPageSite* site() { return this; }
    bool hasPage() const { return bool(page_); }

    // Creates the provider's first page briefly, without a window, for its preferred
    // size. True when width and height were stored; false leaves them untouched.
    static bool probePageSize(ISpecifyPropertyPages* provider, int32_t* width, int32_t* height);

private:
    HRESULT siteQueryInterface(REFIID iid, void** out) override;
    ULONG siteAddRef() override;
    ULONG siteRelease() override;

    void closePage();
    void destroyIfUnused();

    // The site's count is the view's share (held until the host's last view release)
    // plus the references others took; the object goes when both are gone.
    LONG siteRefs_ = 0;
    bool viewHeld_ = true;
    bool closing_ = false;
    // Both belong to the filter: given back under the guard.
    ComRef<ISpecifyPropertyPages> provider_;
    ComRef<IPropertyPage> page_;
    // Set while the destructor runs: a site Release from there must not destroy again.
    bool dying_ = false;
};
