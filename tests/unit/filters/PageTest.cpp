#include <windows.h>
#include <commctrl.h>

#include <string>

#include "FilterFakes.h"
#include "common/ParameterPage.h"
#include "echo/Echo.h"
#include "transpose/Transpose.h"

namespace {

// A top-level window for the page to live in, destroyed with the test. Never shown:
// mapping a window without a window manager costs seconds under Wine.
class ParentWindow {
public:
    ParentWindow() {
        window_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~ParentWindow() {
        if (window_) DestroyWindow(window_);
    }
    HWND get() const { return window_; }

private:
    HWND window_;
};

struct ChildSearch {
    const char* cls;
    std::vector<HWND> found;
};

BOOL CALLBACK collectChild(HWND w, LPARAM p) {
    ChildSearch* s = reinterpret_cast<ChildSearch*>(p);
    char name[64];
    GetClassNameA(w, name, sizeof name);
    if (lstrcmpiA(name, s->cls) == 0) s->found.push_back(w);
    return TRUE;
}

std::vector<HWND> descendants(HWND parent, const char* cls) {
    ChildSearch search{cls, {}};
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string text(HWND w) {
    char buffer[64] = {};
    GetWindowTextA(w, buffer, sizeof buffer);
    return buffer;
}

struct PageCase {
    const char* dll;
    CLSID filter;
    CLSID page;
    size_t rows;
    const wchar_t* title;
};

const PageCase kPages[] = {
    {"transpose.dll", CLSID_Transpose, CLSID_TransposePage, 1, L"Transpose"},
    {"echo.dll", CLSID_Echo, CLSID_EchoPage, 3, L"Echo"},
};

class PageTest : public ::testing::TestWithParam<PageCase> {
protected:
    void SetUp() override {
        ASSERT_NE(dll.module(), nullptr);
        ASSERT_NE(parent.get(), nullptr);
        filter = dll.create<IUnknown>(GetParam().filter, IID_IUnknown);
        page = dll.create<IPropertyPage>(GetParam().page, IID_IPropertyPage);
        ASSERT_TRUE(filter && page);
        ASSERT_EQ(filter->QueryInterface(IID_ISampleParameters, params.putVoid()), S_OK);
    }

    ComScope com;
    FilterDll dll{GetParam().dll};
    ParentWindow parent;
    ComRef<IUnknown> filter;
    ComRef<IPropertyPage> page;
    ComRef<ISampleParameters> params;
};

TEST_P(PageTest, ShowsOneRowPerParameterInARealChildWindowAndAppliesEdits) {
    const PageCase& c = GetParam();
    IUnknown* objects[] = {filter.get()};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);

    PROPPAGEINFO info{};
    info.cb = sizeof info;
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.pszTitle), c.title);
    EXPECT_EQ(info.size.cx, ParameterPage::kWidth);
    EXPECT_GE(info.size.cy, int(c.rows) * ParameterPage::kRowHeight);
    CoTaskMemFree(info.pszTitle);

    RECT r{0, 0, info.size.cx, info.size.cy};
    ASSERT_EQ(page->Activate(parent.get(), &r, FALSE), S_OK);
    EXPECT_EQ(page->Activate(parent.get(), &r, FALSE), E_UNEXPECTED);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    std::vector<HWND> pages = descendants(parent.get(), "PalisanderSampleFilterPage");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(GetWindowLongA(pages[0], GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(GetParent(pages[0]), parent.get());
    std::vector<HWND> edits = descendants(pages[0], "Edit");
    ASSERT_EQ(edits.size(), c.rows);
    EXPECT_EQ(descendants(pages[0], "msctls_updown32").size(), c.rows);

    // Each edit shows its value; a valid entry applies at once, an out-of-range one is refused.
    for (size_t i = 0; i < c.rows; ++i) {
        ParameterInfo p{};
        ASSERT_EQ(params->parameterInfo(int32_t(i), &p), S_OK);
        EXPECT_EQ(text(edits[i]), std::to_string(p.initial));
        SetWindowTextA(edits[i], std::to_string(p.maximum).c_str());
        int32_t v = 0;
        params->getParameter(int32_t(i), &v);
        EXPECT_EQ(v, p.maximum);
        SetWindowTextA(edits[i], std::to_string(p.maximum + 1).c_str());
        SetWindowTextA(edits[i], "1x");
        params->getParameter(int32_t(i), &v);
        EXPECT_EQ(v, p.maximum);
    }
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Apply(), S_OK);

    // The up-down arrows step the value through the same path.
    HWND arrows = descendants(pages[0], "msctls_updown32")[0];
    SendMessageA(arrows, UDM_SETPOS32, 0, 1);
    int32_t v = 0;
    params->getParameter(0, &v);
    EXPECT_EQ(v, 1);

    ASSERT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(pages[0]));
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
}

TEST_P(PageTest, RefusesObjectsWithoutParametersAndAParentThatIsNoWindow) {
    FakeEventList notAFilter;
    IUnknown* objects[] = {&notAFilter};
    EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(page->Activate(nullptr, &r, FALSE), E_INVALIDARG);
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Deactivate(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(SampleFilters, PageTest, ::testing::ValuesIn(kPages),
                         [](const ::testing::TestParamInfo<PageCase>& info) {
                             return std::string(info.param.dll).substr(0, std::string(info.param.dll).find('.'));
                         });

}  // namespace
