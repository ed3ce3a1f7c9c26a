#include <gtest/gtest.h>

#include "EditorFixture.h"
#include "editor/EditorTemplate.h"
#include "editor/PluginViewBase.h"
#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"

namespace {

using fake::world;

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Posted& o) const {
        return message == o.message && wParam == o.wParam && lParam == o.lParam;
    }
};
using PostedList = std::vector<Posted>;

std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{" << std::hex << p.message << "," << p.wParam << "," << p.lParam << "}";
}

// The key messages waiting in one window's queue, taken out.
PostedList takeKeyMessages(HWND window) {
    PostedList out;
    MSG m;
    while (PeekMessageA(&m, window, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) out.push_back({m.message, m.wParam, m.lParam});
    return out;
}

// Far enough from any earlier forwarded key that the 5 ms rule lets the next one pass.
void waitPastDebounce() { Sleep(12); }

class ForwardKeyTest : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        IModuleView* created = nullptr;
        ASSERT_EQ(editorCreateView(&provider, "propertyPages", nullptr, &created), 0);
        view = created;
        ASSERT_EQ(view->attachToParent(host->h), S_OK);
        edit = world.lastPage->edit;
        SetForegroundWindow(host->h);
        SetFocus(edit);
        pumpMessages();
        ASSERT_EQ(GetFocus(), edit);
        takeKeyMessages(edit);
        waitPastDebounce();
    }
    void TearDown() override {
        view->detachFromParent();
        view->Release();
        EditorTest::TearDown();
    }

    fake::Provider provider{{fake::pageA}};
    IModuleView* view = nullptr;
    HWND edit = nullptr;
};

TEST_F(ForwardKeyTest, CharacterIsPostedAsKeyDownCharKeyUpToTheFocusedControl) {
    EXPECT_EQ(view->forwardKey('a', 0, 0), 0);
    EXPECT_EQ(takeKeyMessages(edit), (PostedList{{WM_KEYDOWN, 0x61, 0}, {WM_CHAR, 0x61, 0}, {WM_KEYUP, 0x61, 0}}));

    // Only the low 8 bits count, and the key code is then not looked at.
    waitPastDebounce();
    EXPECT_EQ(view->forwardKey(0x1262, 11, 0), 0);
    EXPECT_EQ(takeKeyMessages(edit), (PostedList{{WM_KEYDOWN, 0x62, 0}, {WM_CHAR, 0x62, 0}, {WM_KEYUP, 0x62, 0}}));

    // A character of 0x80 or above travels sign-extended in the key messages.
    waitPastDebounce();
    view->forwardKey(0xE9, 0, 0);
    PostedList posted = takeKeyMessages(edit);
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(posted.front(), (Posted{WM_KEYDOWN, 0xFFFFFFE9u, 0}));
    EXPECT_EQ(posted.back(), (Posted{WM_KEYUP, 0xFFFFFFE9u, 0}));
}

TEST_F(ForwardKeyTest, KeyCodesArePostedAsVirtualKeys) {
    struct Case {
        int32_t keyCode;
        WPARAM vk;
    } cases[] = {{11, VK_LEFT},      {1, VK_BACK},       {8, VK_NEXT},    {16, VK_NEXT},
                 {4, VK_RETURN},     {19, VK_RETURN},    {24, VK_NUMPAD0}, {33, VK_NUMPAD9},
                 {39, VK_DIVIDE},    {40, VK_F1},        {51, VK_F12},    {56, VK_MENU},
                 {57, 0xFFFFFFFFu},  {58, 0xFFFFFFFEu}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyCode);
        waitPastDebounce();
        EXPECT_EQ(view->forwardKey(0x100, c.keyCode, 0x7), 0);
        EXPECT_EQ(takeKeyMessages(edit), (PostedList{{WM_KEYDOWN, c.vk, 256}, {WM_KEYUP, c.vk, 0}}));
    }
    for (int32_t outside : {0, 59, -1}) {
        SCOPED_TRACE(outside);
        waitPastDebounce();
        EXPECT_EQ(view->forwardKey(0, outside, 0), 0);
        EXPECT_TRUE(takeKeyMessages(edit).empty());
    }
}

TEST_F(ForwardKeyTest, SecondKeyWithinFiveMillisecondsIsDropped) {
    view->forwardKey(0, 11, 0);
    view->forwardKey(0, 12, 0);
    EXPECT_EQ(takeKeyMessages(edit), (PostedList{{WM_KEYDOWN, VK_LEFT, 256}, {WM_KEYUP, VK_LEFT, 0}}));
    waitPastDebounce();
    view->forwardKey(0, 12, 0);
    EXPECT_EQ(takeKeyMessages(edit), (PostedList{{WM_KEYDOWN, VK_UP, 256}, {WM_KEYUP, VK_UP, 0}}));

    // The rule is module-wide: a second view right after the first forwards nothing.
    IModuleView* other = nullptr;
    editorCreateView(&provider, "propertyPages", nullptr, &other);
    fake::Page* first = world.lastPage;
    other->attachToParent(host->h);
    HWND otherEdit = world.lastPage->edit;
    ASSERT_NE(world.lastPage, first);
    SetFocus(otherEdit);
    waitPastDebounce();
    view->forwardKey(0, 13, 0);  // not its page: nothing, and the time stays
    other->forwardKey(0, 13, 0);
    other->forwardKey(0, 14, 0);
    EXPECT_EQ(takeKeyMessages(otherEdit), (PostedList{{WM_KEYDOWN, VK_RIGHT, 256}, {WM_KEYUP, VK_RIGHT, 0}}));
    other->detachFromParent();
    other->Release();
}

TEST_F(ForwardKeyTest, NothingPostedWhenFocusIsNotInsideTheParent) {
    SetFocus(host->h);
    ASSERT_EQ(GetFocus(), host->h);
    EXPECT_EQ(view->forwardKey('a', 11, 0), 0);
    EXPECT_TRUE(takeKeyMessages(host->h).empty());

    WindowHandle elsewhere(createTopLevelWindow("elsewhere", 760));
    SetForegroundWindow(elsewhere.h);
    SetFocus(elsewhere.h);
    pumpMessages();
    ASSERT_EQ(GetFocus(), elsewhere.h);
    EXPECT_EQ(view->forwardKey('a', 11, 0), 0);
    EXPECT_TRUE(takeKeyMessages(elsewhere.h).empty());
    EXPECT_TRUE(takeKeyMessages(edit).empty());

    // Nothing was forwarded, so the 5 ms rule does not stop the next key.
    SetForegroundWindow(host->h);
    SetFocus(edit);
    pumpMessages();
    EXPECT_EQ(view->forwardKey(0, 11, 0), 0);
    EXPECT_EQ(takeKeyMessages(edit).size(), 2u);

    // A detached view has no parent and forwards nothing, though the focus is in the page.
    view->detachFromParent();
    IModuleView* detached = nullptr;
    editorCreateView(&provider, "propertyPages", nullptr, &detached);
    HWND pageEdit = nullptr;
    detached->attachToParent(host->h);
    pageEdit = world.lastPage->edit;
    SetFocus(pageEdit);
    static_cast<PluginViewBase*>(detached)->PluginViewBase::detachFromParent();  // parent cleared, page still up
    waitPastDebounce();
    EXPECT_EQ(detached->forwardKey(0, 11, 0), 0);
    EXPECT_TRUE(takeKeyMessages(pageEdit).empty());
    detached->Release();
}

class RecordingView : public PluginViewBase {
public:
    RecordingView(const ViewRect* rect, bool* destroyed) : PluginViewBase(rect), destroyed_(destroyed) {}
    ~RecordingView() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

TEST(PluginViewBase, DefaultSlotsCountAndRectangle) {
    bool destroyed = false;
    ViewRect rect = {1, 2, 3, 4};
    IModuleView* view = new RecordingView(&rect, &destroyed);
    EXPECT_EQ(view->reserved5(), 1);
    EXPECT_EQ(view->reserved6(77), 1);
    HWND parent = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(view->attachToParent(parent), S_OK);
    EXPECT_EQ(static_cast<PluginViewBase*>(view)->parentWindow(), parent);
    EXPECT_EQ(view->reserved5(), 1);
    EXPECT_EQ(view->detachFromParent(), S_OK);
    EXPECT_EQ(static_cast<PluginViewBase*>(view)->parentWindow(), nullptr);

    ViewRect other = {-5, 6, -7, 8};
    EXPECT_EQ(view->setViewRect(nullptr), S_OK);
    EXPECT_EQ(static_cast<PluginViewBase*>(view)->viewRect().left, 1);
    EXPECT_EQ(view->setViewRect(&other), S_OK);
    const ViewRect& kept = static_cast<PluginViewBase*>(view)->viewRect();
    EXPECT_EQ(kept.left, -5);
    EXPECT_EQ(kept.bottom, 8);

    void* out = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(view->QueryInterface(hostid::IMidiModule.guid(), &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(view->QueryInterface(hostid::IModuleView.guid(), nullptr), E_POINTER);
    for (const UniqueId* id : {&hostid::IUnknown, &hostid::IModuleView}) {
        EXPECT_EQ(view->QueryInterface(id->guid(), &out), S_OK);
        EXPECT_EQ(out, view);
    }
    EXPECT_EQ(view->Release(), 2u);
    EXPECT_EQ(view->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(view->Release(), 0u);
    EXPECT_TRUE(destroyed);

    IModuleView* empty = new RecordingView(nullptr, &destroyed);
    const ViewRect& zero = static_cast<PluginViewBase*>(empty)->viewRect();
    EXPECT_EQ(zero.left | zero.top | zero.right | zero.bottom, 0);
    empty->Release();
}

}  // namespace
