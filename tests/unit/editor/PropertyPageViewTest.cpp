#include <gtest/gtest.h>

#include "EditorFixture.h"
#include "editor/EditorTemplate.h"
#include "editor/PropertyPageView.h"
#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"

namespace {

using fake::world;

const Log attachCalls = {"GetPages",      "CreateInstance", "SetPageSite(site)", "SetObjects(1)",
                         "GetPageInfo",   "Activate",       "Show(SW_SHOW)"};
const Log detachCalls = {"Show(SW_HIDE)", "Deactivate", "SetObjects(0)", "SetPageSite(null)", "Release"};

Log concat(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

IModuleView* makeView(fake::Provider* provider, const ViewRect* rect) {
    IModuleView* view = nullptr;
    EXPECT_EQ(editorCreateView(provider, "propertyPages", rect, &view), 0);
    return view;
}

using PropertyPageViewTest = EditorTest;

TEST_F(PropertyPageViewTest, AttachShowsFirstPageAsChildAtOriginWithItsOwnSize) {
    fake::Provider provider({fake::pageA, fake::pageB});
    ViewRect rect = {30, 40, 900, 800};
    IModuleView* view = makeView(&provider, &rect);

    EXPECT_EQ(view->attachToParent(host->h), S_OK);
    EXPECT_EQ(world.log, attachCalls);  // one CreateInstance: only the first page
    ASSERT_EQ(world.livePages, 1);
    fake::Page* page = world.lastPage;
    EXPECT_EQ(page->object, static_cast<IUnknown*>(&provider));
    EXPECT_EQ(page->activatedParent, host->h);
    EXPECT_EQ(GetParent(page->window), host->h);
    RECT placed = rectInParent(page->window);
    EXPECT_EQ(placed.left, 0);
    EXPECT_EQ(placed.top, 0);
    EXPECT_EQ(placed.right, 320);
    EXPECT_EQ(placed.bottom, 240);
    EXPECT_TRUE(IsWindowVisible(page->window));

    // A new view rectangle leaves a shown page where it is.
    ViewRect other = {5, 5, 50, 50};
    EXPECT_EQ(view->setViewRect(&other), S_OK);
    placed = rectInParent(page->window);
    EXPECT_EQ(placed.right, 320);

    HWND pageWindow = page->window;
    world.log.clear();
    EXPECT_EQ(view->detachFromParent(), S_OK);
    EXPECT_EQ(world.log, detachCalls);
    EXPECT_EQ(world.livePages, 0);
    EXPECT_FALSE(IsWindow(pageWindow));
    view->Release();
}

TEST_F(PropertyPageViewTest, EachAttachCreatesAFreshPageReleasedAtItsDetach) {
    fake::Provider provider({fake::pageA});
    IModuleView* view = makeView(&provider, nullptr);
    EXPECT_EQ(view->detachFromParent(), S_OK);  // before any attach: calls nothing
    EXPECT_TRUE(world.log.empty());

    ASSERT_EQ(view->attachToParent(host->h), S_OK);
    view->detachFromParent();
    EXPECT_EQ(world.livePages, 0);
    EXPECT_EQ(world.lastPage, nullptr);
    ASSERT_EQ(view->attachToParent(host->h), S_OK);
    EXPECT_EQ(world.livePages, 1);
    EXPECT_NE(world.lastPage, nullptr);
    view->detachFromParent();
    EXPECT_EQ(world.log, concat(concat(attachCalls, detachCalls), concat(attachCalls, detachCalls)));
    EXPECT_EQ(world.livePages, 0);

    // A second attach without a detach closes the first page instead of leaking it.
    world.log.clear();
    view->attachToParent(host->h);
    view->attachToParent(host->h);
    EXPECT_EQ(world.log, concat(concat(attachCalls, detachCalls), attachCalls));
    EXPECT_EQ(world.livePages, 1);
    view->detachFromParent();
    view->Release();
}

TEST_F(PropertyPageViewTest, NoPageMeansFailAndNothingShown) {
    struct Case {
        const char* what;
        std::vector<GUID> pages;
        HRESULT getPages;
        Log calls;
    } cases[] = {
        {"empty list", {}, S_OK, {"GetPages"}},
        {"GetPages fails", {fake::pageA}, E_OUTOFMEMORY, {"GetPages"}},
        {"class not registered", {fake::notRegistered}, S_OK, {"GetPages"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::resetWorld();
        fake::Provider provider(c.pages);
        provider.getPagesResult = c.getPages;
        IModuleView* view = makeView(&provider, nullptr);
        EXPECT_EQ(view->attachToParent(host->h), E_FAIL);
        EXPECT_EQ(view->detachFromParent(), S_OK);
        EXPECT_EQ(world.log, c.calls);
        EXPECT_EQ(GetWindow(host->h, GW_CHILD), nullptr);
        int32_t width = 0xCAFE, height = 0xCAFE;
        EXPECT_FALSE(PropertyPageView::probePageSize(&provider, &width, &height));
        EXPECT_EQ(width, 0xCAFE);
        EXPECT_EQ(height, 0xCAFE);
        view->Release();
    }
    IModuleView* orphan = makeView(nullptr, nullptr);
    EXPECT_EQ(orphan->attachToParent(host->h), E_FAIL);
    orphan->Release();
}

TEST_F(PropertyPageViewTest, ReleasingAnAttachedViewClosesThePage) {
    fake::Provider provider({fake::pageA});
    IModuleView* view = makeView(&provider, nullptr);
    ASSERT_EQ(view->attachToParent(host->h), S_OK);
    HWND pageWindow = world.lastPage->window;
    world.log.clear();
    EXPECT_EQ(view->Release(), 0u);
    EXPECT_EQ(world.log, detachCalls);
    EXPECT_EQ(world.livePages, 0);
    EXPECT_FALSE(IsWindow(pageWindow));
}

TEST_F(PropertyPageViewTest, APageThatKeepsItsSiteKeepsTheObjectUntilItLetsGo) {
    fake::Provider provider({fake::pageA});
    for (bool attached : {true, false}) {
        SCOPED_TRACE(attached);
        IModuleView* view = makeView(&provider, nullptr);
        IPropertyPageSite* site = nullptr;
        if (attached) {
            ASSERT_EQ(view->attachToParent(host->h), S_OK);
            site = world.lastPage->site;
        } else {
            ASSERT_EQ(view->QueryInterface(comid::IPropertyPageSite, reinterpret_cast<void**>(&site)), E_NOINTERFACE);
            site = static_cast<PropertyPageView*>(view)->site();
        }
        ASSERT_NE(site, nullptr);
        EXPECT_EQ(site->AddRef(), attached ? 3u : 2u);  // kept, as a page that holds on would
        EXPECT_EQ(view->Release(), 0u);
        EXPECT_EQ(world.livePages, 0);  // the page is closed with the host's release
        EXPECT_EQ(provider.count, 2);   // and the object lives on for the site
        EXPECT_EQ(site->OnStatusChange(0), S_OK);
        LCID locale = 0xCAFECAFE;
        EXPECT_EQ(site->GetLocaleID(&locale), S_OK);
        EXPECT_EQ(view->Release(), 0u);  // a host's extra release closes nothing twice
        EXPECT_EQ(site->Release(), 0u);
        EXPECT_EQ(provider.count, 1);  // destroyed once, by the last site release
    }
}

TEST_F(PropertyPageViewTest, ViewHoldsItsOwnProviderReference) {
    fake::Provider provider({fake::pageA});
    IModuleView* view = makeView(&provider, nullptr);
    EXPECT_EQ(provider.count, 2);
    view->attachToParent(host->h);
    view->detachFromParent();
    EXPECT_EQ(provider.count, 2);  // the filter's IUnknown for SetObjects was given back
    view->Release();
    EXPECT_EQ(provider.count, 1);

    int32_t width = 0, height = 0;
    EXPECT_TRUE(PropertyPageView::probePageSize(&provider, &width, &height));
    EXPECT_EQ(provider.count, 1);
}

TEST_F(PropertyPageViewTest, ProbeMeasuresWithoutWindowAndReleasesPage) {
    fake::Provider provider({fake::pageA, fake::pageB});
    world.script.width = 321;
    world.script.height = 123;
    int32_t width = 0, height = 0;
    EXPECT_TRUE(PropertyPageView::probePageSize(&provider, &width, &height));
    EXPECT_EQ(width, 321);
    EXPECT_EQ(height, 123);
    EXPECT_EQ(world.log, (Log{"GetPages", "CreateInstance", "SetPageSite(site)", "SetObjects(1)", "GetPageInfo",
                              "SetObjects(0)", "SetPageSite(null)", "Release"}));
    EXPECT_EQ(world.livePages, 0);

    fake::resetWorld();
    world.script.pageInfoResult = E_FAIL;
    width = height = 0xCAFE;
    EXPECT_FALSE(PropertyPageView::probePageSize(&provider, &width, &height));
    EXPECT_EQ(width, 0xCAFE);
    EXPECT_EQ(world.livePages, 0);
    EXPECT_FALSE(PropertyPageView::probePageSize(&provider, nullptr, &height));

    // A fault after the size was stored still reports it.
    fake::resetWorld();
    world.script.faultAt = "SetObjects(0)";
    world.script.faultKind = fake::Fault::CxxRaise;
    width = height = 0;
    EXPECT_TRUE(PropertyPageView::probePageSize(&provider, &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(world.log.back(), "SetObjects(0)");
}

TEST_F(PropertyPageViewTest, FaultingPageOrProviderGivesDocumentedResults) {
    struct Case {
        const char* faultAt;
        fake::Fault kind;
        HRESULT attach;     // and whether a page stays held for the detach
        bool probeResult;
    } cases[] = {
        {"GetPages", fake::Fault::AccessViolation, E_FAIL, false},
        {"CreateInstance", fake::Fault::CxxRaise, E_FAIL, false},
        {"SetPageSite(site)", fake::Fault::AccessViolation, S_OK, false},
        {"GetPageInfo", fake::Fault::CxxRaise, S_OK, false},
        {"Activate", fake::Fault::AccessViolation, S_OK, true},  // the probe never activates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faultAt);
        fake::resetWorld();
        fake::Provider provider({fake::pageA});
        world.script.faultAt = c.faultAt;
        world.script.faultKind = c.kind;
        IModuleView* view = makeView(&provider, nullptr);
        EXPECT_EQ(view->attachToParent(host->h), c.attach);
        size_t afterAttach = world.log.size();
        EXPECT_EQ(view->detachFromParent(), S_OK);
        Log detachPart(world.log.begin() + afterAttach, world.log.end());
        EXPECT_EQ(detachPart, c.attach == S_OK ? detachCalls : Log{});
        view->Release();

        world.script.faultAt = c.faultAt;
        world.script.faultKind = c.kind;
        int32_t width = 0xCAFE, height = 0xCAFE;
        EXPECT_EQ(PropertyPageView::probePageSize(&provider, &width, &height), c.probeResult);
        EXPECT_EQ(width, c.probeResult ? 320 : 0xCAFE);
    }
}

TEST_F(PropertyPageViewTest, FaultDuringDetachStillClearsPageAndParent) {
    for (const char* at : {"Show(SW_HIDE)", "Deactivate", "SetPageSite(null)"}) {
        SCOPED_TRACE(at);
        fake::resetWorld();
        fake::Provider provider({fake::pageA});
        auto* view = new PropertyPageView(nullptr, &provider);
        ASSERT_EQ(view->attachToParent(host->h), S_OK);
        world.script.faultAt = at;
        world.script.faultKind = fake::Fault::AccessViolation;
        EXPECT_EQ(view->detachFromParent(), S_OK);
        EXPECT_EQ(world.log.back(), at);  // the sequence ended at the fault
        EXPECT_FALSE(view->hasPage());
        EXPECT_EQ(view->parentWindow(), nullptr);
        size_t before = world.log.size();
        EXPECT_EQ(view->detachFromParent(), S_OK);
        EXPECT_EQ(world.log.size(), before);
        view->view()->Release();
        EXPECT_EQ(world.log.size(), before);  // the faulted page is not called again
        // The faulted page is abandoned: take down the window its Deactivate never did.
        if (world.lastPage && world.lastPage->window) DestroyWindow(world.lastPage->window);
    }
}

TEST_F(PropertyPageViewTest, SiteAnswersItsOwnInterfacesOnly) {
    fake::Provider provider({fake::pageA});
    IModuleView* view = makeView(&provider, nullptr);
    ASSERT_EQ(view->attachToParent(host->h), S_OK);
    IPropertyPageSite* site = world.lastPage->site;
    ASSERT_NE(site, nullptr);

    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(view->QueryInterface(comid::IPropertyPageSite, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(site->QueryInterface(hostid::IModuleView.guid(), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    for (const GUID* iid : {&comid::IUnknown, &comid::IPropertyPageSite}) {
        out = nullptr;
        EXPECT_EQ(site->QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, site);
        EXPECT_EQ(site->Release(), 2u);  // the host's 1 and the page's 1
    }
    EXPECT_EQ(site->QueryInterface(comid::IUnknown, nullptr), E_POINTER);

    LCID locale = 0xCAFECAFE;
    EXPECT_EQ(site->GetLocaleID(&locale), S_OK);
    EXPECT_EQ(locale, GetThreadLocale());
    IUnknown* container = reinterpret_cast<IUnknown*>(0xCAFECAFE);
    EXPECT_EQ(site->GetPageContainer(&container), E_NOTIMPL);
    EXPECT_EQ(container, reinterpret_cast<IUnknown*>(0xCAFECAFE));
    EXPECT_EQ(site->TranslateAccelerator(nullptr), E_NOTIMPL);
    EXPECT_EQ(site->OnStatusChange(0), S_OK);

    view->detachFromParent();
    view->Release();
}

}  // namespace
