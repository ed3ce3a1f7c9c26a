// The editor of the real module over the test filter's property page, in real windows:
// the template, the page view inside a host window, key forwarding and page faults.
#include "unit/instance/ModuleFixture.h"

#include "interfaces/ComExtras.h"
#include "unit/editorstate/StillProcessing.h"

namespace {

using namespace fixture;
using Strings = std::vector<std::string>;

std::string templateFor(const char* size) {
    return std::string("<template name=\"editor\">"
                       "<view name=\"host.PresetViewHorizontalSmall\" data=\"Preset\" size=\"0,0,140,20\"/>"
                       "<view name=\"propertyPages\" size=\"0,20,") +
           size + "\"/></template>";
}

// The host's top-level window. Made once for the whole program: each one costs seconds under Wine.
class HostWindow {
public:
    HostWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "EditorStateHost";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, "EditorStateHost", "host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 10, 10, 800,
                                  600, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(window_, SW_SHOW);
    }
    ~HostWindow() {
        if (window_) DestroyWindow(window_);
    }
    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

HWND hostWindow() {
    static HostWindow window;
    return window.get();
}

struct Posted {
    UINT message;
    WPARAM w;
    LPARAM l;
    bool operator==(const Posted& o) const { return message == o.message && w == o.w && l == o.l; }
};
std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{" << p.message << "," << p.w << "," << p.l << "}";
}

// Key messages waiting in a window's queue, taken out.
std::vector<Posted> takeKeys(HWND window) {
    std::vector<Posted> got;
    MSG m;
    while (PeekMessageA(&m, window, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) got.push_back({m.message, m.wParam, m.lParam});
    return got;
}

void pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

class Editor : public InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        ASSERT_EQ(S_OK, control.Register(&CLSID_TestFilterPage1, "Test Filter Page 1",
                                         TfRegClassKey | TfRegName | TfRegInproc));
        init();
        // Pages that faulted in earlier tests stay alive by design: count from here.
        baseline = control.counts();
        host_ = hostWindow();
        ASSERT_TRUE(IsWindow(host_));
        editor.reset(query<IEditorDescription>(instance, hostid::IEditorDescription));
        views.reset(query<IViewFactory>(instance, hostid::IViewFactory));
        ASSERT_TRUE(editor && views);
    }
    void TearDown() override {
        editor.reset();
        views.reset();
        pump();
        InstanceTest::TearDown();
        control.Unregister(&CLSID_TestFilterPage1);
    }
    ComRef<IModuleView> createView(const ViewRect* rect = nullptr, IViewFactory* factory = nullptr) {
        ComRef<IModuleView> view;
        EXPECT_EQ(0, (factory ? factory : views.get())->createView("propertyPages", rect, view.put()));
        EXPECT_TRUE(view);
        return view;
    }
    // The page window's rectangle in the host window's client coordinates.
    RECT placement(HWND page) {
        RECT r{};
        GetWindowRect(page, &r);
        MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    Strings pageCalls() {
        return calls({TfPageSetPageSite, TfPageActivate, TfPageDeactivate, TfPageGetPageInfo, TfPageSetObjects,
                      TfPageShow, TfPageMove, TfPageIsPageDirty, TfPageApply, TfPageDestroy});
    }
    void expectNoPageLeft() {
        TfCounts c = control.counts();
        EXPECT_EQ(c.pagesAlive, baseline.pagesAlive);
        EXPECT_EQ(c.pageWindowsAlive, baseline.pageWindowsAlive);
        EXPECT_EQ(c.siteRefsHeld, baseline.siteRefsHeld);
        EXPECT_EQ(c.objectRefsHeld, baseline.objectRefsHeld);
    }
    void expectProcessing() { expectStillProcessing(instance, host, &now_); }
    HWND host_ = nullptr;
    int32_t now_ = 0;
    TfCounts baseline{};
    ComRef<IEditorDescription> editor;
    ComRef<IViewFactory> views;
};

TEST_F(Editor, TheTemplateHoldsThePagesSizeOrTheDefault) {
    struct Case {
        int32_t width, height;
        const char* size;
    } cases[] = {{320, 240, "320,240"}, {0, 240, "500,500"}, {0, 300, "500,500"},
                 {640, 0, "500,500"},   {-5, 10, "-5,10"},    {500, 500, "500,500"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        control.SetPageSize(c.width, c.height);
        control.ClearLog();
        char name[16], text[256];
        std::memset(name, 0x55, sizeof name);
        std::memset(text, 0x55, sizeof text);
        int32_t size = int32_t(0xCAFECAFE);
        EXPECT_EQ(0, editor->getTemplate("editor", name, text, &size));
        EXPECT_STREQ(name, "editor");
        EXPECT_EQ(std::string(text), templateFor(c.size));
        EXPECT_EQ(size, int32_t(templateFor(c.size).size() + 1));
        // The size probe never makes a window and gives its page back.
        EXPECT_TRUE(calls({TfPageActivate, TfPageShow}).empty());
        expectNoPageLeft();
    }
    EXPECT_EQ(templateFor("500,500").size(), 160u);
}

TEST_F(Editor, OnlyTheEditorTemplateAndThePropertyPagesViewAreKnown) {
    for (const char* name : {"Editor", "inspector", "editor ", ""}) {
        SCOPED_TRACE(name);
        char text[8] = "keep";
        int32_t size = int32_t(0xCAFECAFE);
        EXPECT_EQ(1, editor->getTemplate(name, nullptr, text, &size));
        EXPECT_STREQ(text, "keep");
        EXPECT_EQ(size, int32_t(0xCAFECAFE));
    }
    EXPECT_EQ(0, editor->getTemplate("editor", nullptr, nullptr, nullptr));
    for (const char* name : {"propertyPages ", "PropertyPages", "editor"}) {
        SCOPED_TRACE(name);
        IModuleView* view = reinterpret_cast<IModuleView*>(0xCAFECAFE);
        EXPECT_EQ(1, views->createView(name, nullptr, &view));
        EXPECT_EQ(view, nullptr);
    }
}

TEST_F(Editor, HasEditorFollowsThePageProvider) {
    ModuleInfo info{sizeof(ModuleInfo), int32_t(0xCAFECAFE)};
    EXPECT_EQ(S_OK, instance->getInfo(&info));
    EXPECT_EQ(info.hasEditor, 1);

    control.SetInterfaces(TfHasOutputConnect | TfHasPersistStream);
    IMidiModule* other = module->create(CLSID_TestFilter1);
    ASSERT_NE(other, nullptr);
    info.hasEditor = int32_t(0xCAFECAFE);
    EXPECT_EQ(S_OK, other->getInfo(&info));
    EXPECT_EQ(info.hasEditor, 0);
    {
        ComRef<IEditorDescription> e(query<IEditorDescription>(other, hostid::IEditorDescription));
        ComRef<IViewFactory> f(query<IViewFactory>(other, hostid::IViewFactory));
        ASSERT_TRUE(e && f);
        char text[8] = "keep";
        int32_t size = 0;
        EXPECT_EQ(0, e->getTemplate("editor", nullptr, text, &size));
        EXPECT_STREQ(text, "");
        EXPECT_EQ(size, 1);
        ComRef<IModuleView> view = createView(nullptr, f.get());
        ASSERT_TRUE(view);
        EXPECT_EQ(E_FAIL, view->attachToParent(host_));
        EXPECT_EQ(S_OK, view->detachFromParent());
    }
    other->Release();
    expectNoPageLeft();
}

TEST_F(Editor, ThePageSitsAtTheHostWindowsOriginWithItsOwnSize) {
    ViewRect rect{30, 40, 200, 100};
    ComRef<IModuleView> view = createView(&rect);
    ASSERT_TRUE(view);
    control.ClearLog();
    ASSERT_EQ(S_OK, view->attachToParent(host_));
    HWND page = control.PageWindow();
    ASSERT_TRUE(IsWindow(page));
    EXPECT_EQ(GetParent(page), host_);
    EXPECT_TRUE(IsWindowVisible(page));
    RECT r = placement(page);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.bottom, 240);
    EXPECT_EQ(pageCalls(), (Strings{"page.SetPageSite(site)", "page.SetObjects(1,filter#1)", "page.GetPageInfo(28)",
                                    "page.Activate(0,0,320,240,0)", "page.Show(5)"}));
    // A new view rectangle does not move a page that is shown.
    ViewRect moved{5, 5, 50, 50};
    EXPECT_EQ(S_OK, view->setViewRect(&moved));
    r = placement(page);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(r.left, 0);

    control.ClearLog();
    EXPECT_EQ(S_OK, view->detachFromParent());
    EXPECT_FALSE(IsWindow(page));
    EXPECT_EQ(pageCalls(), (Strings{"page.Show(0)", "page.Deactivate", "page.SetObjects(0,filter#0)",
                                    "page.SetPageSite(null)", "page.destroy"}));
    expectNoPageLeft();

    // Attached again: a fresh page.
    ASSERT_EQ(S_OK, view->attachToParent(host_));
    EXPECT_EQ(control.counts().pagesCreated, 2);
    EXPECT_EQ(control.counts().pagesAlive, baseline.pagesAlive + 1);
    EXPECT_EQ(GetParent(control.PageWindow()), host_);
    EXPECT_EQ(S_OK, view->detachFromParent());
    expectNoPageLeft();
}

TEST_F(Editor, AViewReleasedWhileAttachedClosesItsPage) {
    ComRef<IModuleView> view = createView();
    ASSERT_EQ(S_OK, view->attachToParent(host_));
    EXPECT_EQ(control.counts().pageWindowsAlive, baseline.pageWindowsAlive + 1);
    view.reset();
    expectNoPageLeft();
}

TEST_F(Editor, TheViewOutlivesTheInstanceThatMadeIt) {
    ComRef<IModuleView> view = createView();
    ASSERT_EQ(S_OK, view->attachToParent(host_));
    editor.reset();
    views.reset();
    instance->terminate();
    initialised = false;
    instance->Release();
    instance = nullptr;
    // The view's own provider reference keeps the filter.
    EXPECT_EQ(control.counts().filtersAlive, baseline.filtersAlive);
    EXPECT_EQ(S_OK, view->detachFromParent());
    expectNoPageLeft();
    EXPECT_EQ(S_OK, view->attachToParent(host_));
    EXPECT_EQ(GetParent(control.PageWindow()), host_);
    EXPECT_EQ(S_OK, view->detachFromParent());
    view.reset();
    expectNoPageLeft();
    EXPECT_EQ(control.counts().filtersAlive, baseline.filtersAlive - 1);
}

class Keys : public Editor {
protected:
    void SetUp() override {
        Editor::SetUp();
        view = createView();
        ASSERT_EQ(S_OK, view->attachToParent(host_));
        edit = control.PageEdit();
        ASSERT_TRUE(IsWindow(edit));
        SetForegroundWindow(host_);
        SetFocus(edit);
        ASSERT_EQ(GetFocus(), edit);
        pump();
        takeKeys(nullptr);
    }
    void TearDown() override {
        if (view) view->detachFromParent();
        view.reset();
        Editor::TearDown();
    }
    // Past the module-wide 5 ms between forwarded keys.
    int32_t forward(int32_t character, int32_t keyCode) {
        Sleep(20);
        return view->forwardKey(character, keyCode, 0);
    }
    ComRef<IModuleView> view;
    HWND edit = nullptr;
};

TEST_F(Keys, AKeyCodeIsPostedToTheFocusedControlAsItsVirtualKey) {
    struct Case {
        int32_t keyCode;
        WPARAM vk;
    } cases[] = {{11, VK_LEFT}, {1, VK_BACK}, {8, VK_NEXT}, {16, VK_NEXT}, {19, VK_RETURN},
                 {24, VK_NUMPAD0}, {40, VK_F1}, {51, VK_F12}, {56, VK_MENU}, {57, 0xFFFFFFFFu}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyCode);
        EXPECT_EQ(0, forward(0x100, c.keyCode));  // low 8 bits 0: the key code counts
        EXPECT_EQ(takeKeys(edit), (std::vector<Posted>{{WM_KEYDOWN, c.vk, 256}, {WM_KEYUP, c.vk, 0}}));
    }
    for (int32_t keyCode : {0, 59, -1}) {
        SCOPED_TRACE(keyCode);
        EXPECT_EQ(0, forward(0, keyCode));
        EXPECT_TRUE(takeKeys(edit).empty());
    }
}

TEST_F(Keys, ForwardedKeysReachThePagesEdit) {
    control.ClearLog();
    EXPECT_EQ(0, forward(0, 11));
    pump();
    EXPECT_EQ(calls({TfPageKey}), (Strings{"page.keyDown(37,256)", "page.keyUp(37,0)"}));
}

TEST_F(Keys, ACharacterIsPostedAsDownCharUp) {
    EXPECT_EQ(0, forward('a', 11));
    EXPECT_EQ(takeKeys(edit),
              (std::vector<Posted>{{WM_KEYDOWN, 0x61, 0}, {WM_CHAR, 0x61, 0}, {WM_KEYUP, 0x61, 0}}));
}

TEST_F(Keys, ASecondKeyWithinFiveMillisecondsIsDropped) {
    EXPECT_EQ(0, forward(0, 11));
    EXPECT_EQ(0, view->forwardKey(0, 12, 0));
    EXPECT_EQ(takeKeys(edit), (std::vector<Posted>{{WM_KEYDOWN, VK_LEFT, 256}, {WM_KEYUP, VK_LEFT, 0}}));
    EXPECT_EQ(0, forward(0, 12));
    EXPECT_EQ(takeKeys(edit), (std::vector<Posted>{{WM_KEYDOWN, VK_UP, 256}, {WM_KEYUP, VK_UP, 0}}));
}

TEST_F(Keys, NothingIsPostedWhenTheFocusIsOutsideThePageOrTheViewIsDetached) {
    SetFocus(host_);
    ASSERT_EQ(GetFocus(), host_);
    EXPECT_EQ(0, forward(0, 11));
    EXPECT_TRUE(takeKeys(nullptr).empty());
    SetFocus(edit);
    HWND stale = edit;
    EXPECT_EQ(S_OK, view->detachFromParent());
    EXPECT_EQ(0, forward(0, 11));
    EXPECT_TRUE(takeKeys(nullptr).empty());
    EXPECT_FALSE(IsWindow(stale));
}

TEST_F(Editor, AFaultingProviderOrPageGivesTheDocumentedResult) {
    struct Case {
        int32_t site;
        int32_t raise;
        HRESULT attach;     // what attachToParent answers
        bool activated;     // the page's window exists
        const char* size;   // the template's page size
    } cases[] = {
        {TfGetPages, TfRaiseAccessViolation, E_FAIL, false, "500,500"},
        {TfGetPages, TfRaiseCxxSeh, E_FAIL, false, "500,500"},
        {TfPageCreate, TfRaiseAccessViolation, E_FAIL, false, "500,500"},
        {TfPageSetPageSite, TfRaiseCxxSeh, S_OK, false, "500,500"},
        {TfPageSetObjects, TfRaiseAccessViolation, S_OK, false, "500,500"},
        {TfPageGetPageInfo, TfRaiseAccessViolation, S_OK, false, "500,500"},
        {TfPageActivate, TfRaiseAccessViolation, S_OK, false, "320,240"},
        {TfPageActivate, TfRaiseCxxSeh, S_OK, false, "320,240"},
        {TfPageShow, TfRaiseAccessViolation, S_OK, true, "320,240"},
    };
    ComRef<IModuleView> view = createView();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "site " << c.site << " kind " << c.raise);
        control.SetRaise(c.site, c.raise);
        char text[256] = {};
        EXPECT_EQ(0, editor->getTemplate("editor", nullptr, text, nullptr));
        EXPECT_EQ(std::string(text), templateFor(c.size));
        EXPECT_EQ(c.attach, view->attachToParent(host_));
        EXPECT_EQ(control.counts().pageWindowsAlive, baseline.pageWindowsAlive + (c.activated ? 1 : 0));
        control.SetRaise(c.site, TfRaiseNone);
        EXPECT_EQ(S_OK, view->detachFromParent());
        EXPECT_EQ(control.counts().pageWindowsAlive, baseline.pageWindowsAlive);
        // Usable afterwards: the view shows a page, the instance processes.
        ASSERT_EQ(S_OK, view->attachToParent(host_));
        EXPECT_EQ(GetParent(control.PageWindow()), host_);
        EXPECT_EQ(S_OK, view->detachFromParent());
        expectProcessing();
    }
}

TEST_F(Editor, AFailingOrEmptyPageListShowsNothing) {
    ComRef<IModuleView> view = createView();
    control.SetResult(TfGetPages, E_FAIL);
    EXPECT_EQ(E_FAIL, view->attachToParent(host_));
    control.SetResult(TfGetPages, S_OK);
    control.SetPageList(nullptr, 0);
    EXPECT_EQ(E_FAIL, view->attachToParent(host_));
    char text[256] = {};
    EXPECT_EQ(0, editor->getTemplate("editor", nullptr, text, nullptr));
    EXPECT_EQ(std::string(text), templateFor("500,500"));
    EXPECT_EQ(control.counts().pagesCreated, 0);
    // Two pages listed: only the first is made.
    const GUID two[2] = {CLSID_TestFilterPage1, CLSID_TestFilterPage2};
    control.SetPageList(two, 2);
    ASSERT_EQ(S_OK, view->attachToParent(host_));
    EXPECT_EQ(control.counts().pagesCreated, 1);
    EXPECT_EQ(control.entry(control.LogCount() - 1).clsid, CLSID_TestFilterPage1);
    EXPECT_EQ(S_OK, view->detachFromParent());
    expectNoPageLeft();
}

}  // namespace
