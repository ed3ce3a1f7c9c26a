#include <gtest/gtest.h>

#include <cstring>

#include "EditorFixture.h"
#include "editor/EditorTemplate.h"
#include "editor/PropertyPageView.h"

namespace {

using fake::world;

std::string expectedTemplate(const char* size) {
    return std::string("<template name=\"editor\">"
                       "<view name=\"host.PresetViewHorizontalSmall\" data=\"Preset\" size=\"0,0,140,20\"/>"
                       "<view name=\"propertyPages\" size=\"") +
           size + "\"/></template>";
}

using EditorTemplateTest = EditorTest;

TEST_F(EditorTemplateTest, TemplateCarriesThePageSizeOrTheDefault) {
    struct Case {
        LONG width, height;
        HRESULT pageInfo;
        std::vector<GUID> pages;
        const char* size;
    } cases[] = {
        {320, 240, S_OK, {fake::pageA}, "0,20,320,240"},
        {0, 300, S_OK, {fake::pageA}, "0,20,500,500"},
        {300, 0, S_OK, {fake::pageA}, "0,20,500,500"},
        {-5, 7, S_OK, {fake::pageA}, "0,20,-5,7"},
        {320, 240, E_FAIL, {fake::pageA}, "0,20,500,500"},
        {320, 240, S_OK, {}, "0,20,500,500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        fake::resetWorld();
        world.script.width = c.width;
        world.script.height = c.height;
        world.script.pageInfoResult = c.pageInfo;
        fake::Provider provider(c.pages);
        char text[editorTemplateTextSize];
        std::memset(text, 'x', sizeof text);
        buildEditorTemplate(&provider, text);
        EXPECT_EQ(std::string(text), expectedTemplate(c.size));
        EXPECT_EQ(world.livePages, 0);
    }
    EXPECT_EQ(expectedTemplate("0,20,500,500").size(), 160u);
}

TEST_F(EditorTemplateTest, GetTemplateRebuildsAndCopiesForEditor) {
    fake::Provider provider({fake::pageA});
    EditorTemplateText state;
    char name[32];
    char text[editorTemplateTextSize];
    int32_t size = 0xCAFE;
    EXPECT_EQ(editorGetTemplate(&provider, state, "editor", name, text, &size), 0);
    EXPECT_STREQ(name, "editor");
    EXPECT_EQ(std::string(text), expectedTemplate("0,20,320,240"));
    EXPECT_EQ(size, int32_t(std::strlen(text) + 1));

    // All outs null: still 0, and the text is built again from the page's new size.
    world.script.width = 640;
    world.log.clear();
    EXPECT_EQ(editorGetTemplate(&provider, state, "editor", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(state.text), expectedTemplate("0,20,640,240"));
    EXPECT_EQ(world.log.front(), "GetPages");
}

TEST_F(EditorTemplateTest, ACopyAfterASizeRequestIsTheTextThatWasSized) {
    // The page reports another size on every probe; the host sizes its buffer from
    // the first answer and copies with the second call.
    fake::Provider provider({fake::pageA});
    EditorTemplateText state;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        world.script.width = 5;
        world.script.height = 5;
        int32_t size = 0xCAFE;
        EXPECT_EQ(editorGetTemplate(&provider, state, "editor", nullptr, nullptr, &size), 0);
        world.script.width = 1024000;
        world.script.height = 768000;
        world.log.clear();
        std::string text(editorTemplateTextSize, '\x7F');
        EXPECT_EQ(editorGetTemplate(&provider, state, "editor", nullptr, &text[0], nullptr), 0);
        EXPECT_EQ(text.c_str(), expectedTemplate("0,20,5,5"));
        EXPECT_EQ(std::strlen(text.c_str()) + 1, size_t(size));
        EXPECT_EQ(text[size_t(size)], '\x7F');  // nothing written past the size given
        EXPECT_TRUE(world.log.empty());          // no probe for the copy
    }
    // A copy that follows a copy builds afresh.
    char text[editorTemplateTextSize];
    EXPECT_EQ(editorGetTemplate(&provider, state, "editor", nullptr, text, nullptr), 0);
    EXPECT_EQ(std::string(text), expectedTemplate("0,20,1024000,768000"));
}

TEST_F(EditorTemplateTest, OtherNamesAreRefusedAndNothingWritten) {
    fake::Provider provider({fake::pageA});
    for (const char* refused : {"Editor", "inspector", "propertyPages", "editor ", "", (const char*)nullptr}) {
        SCOPED_TRACE(refused ? refused : "null");
        EditorTemplateText state;
        char name[8] = "sent";
        char text[8] = "sent";
        int32_t size = 0xCAFE;
        EXPECT_EQ(editorGetTemplate(&provider, state, refused, name, text, &size), 1);
        EXPECT_STREQ(name, "sent");
        EXPECT_STREQ(text, "sent");
        EXPECT_EQ(size, 0xCAFE);
        EXPECT_STREQ(state.text, "");
    }
    EXPECT_TRUE(world.log.empty());
}

TEST_F(EditorTemplateTest, NoProviderGivesEmptyTextOfSizeOne) {
    EditorTemplateText state;
    char name[8] = "";
    char text[8] = "sent";
    int32_t size = 0xCAFE;
    EXPECT_EQ(editorGetTemplate(nullptr, state, "editor", name, text, &size), 0);
    EXPECT_STREQ(name, "editor");
    EXPECT_STREQ(text, "");
    EXPECT_EQ(size, 1);
}

TEST_F(EditorTemplateTest, CreateViewOnlyForPropertyPages) {
    fake::Provider provider({fake::pageA});
    for (const char* refused : {"propertyPages ", "PropertyPages", "editor", (const char*)nullptr}) {
        SCOPED_TRACE(refused ? refused : "null");
        IModuleView* view = reinterpret_cast<IModuleView*>(0xCAFECAFE);
        EXPECT_EQ(editorCreateView(&provider, refused, nullptr, &view), 1);
        EXPECT_EQ(view, nullptr);
    }
    EXPECT_EQ(editorCreateView(&provider, "propertyPages", nullptr, nullptr), 1);
    EXPECT_EQ(provider.count, 1);

    ViewRect rect = {1, 2, 3, 4};
    IModuleView* view = nullptr;
    EXPECT_EQ(editorCreateView(&provider, "propertyPages", &rect, &view), 0);
    ASSERT_NE(view, nullptr);
    const ViewRect& kept = static_cast<PropertyPageView*>(view)->viewRect();
    EXPECT_EQ(std::memcmp(&kept, &rect, sizeof rect), 0);
    EXPECT_EQ(view->Release(), 0u);  // the host's one reference
    EXPECT_TRUE(world.log.empty());  // creating a view touches no page
}

}  // namespace
