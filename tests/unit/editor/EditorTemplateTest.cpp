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
    char templateText[editorTemplateTextSize] = "";
    char name[32];
    char text[editorTemplateTextSize];
    int32_t size = 0xCAFE;
    EXPECT_EQ(editorGetTemplate(&provider, templateText, "editor", name, text, &size), 0);
    EXPECT_STREQ(name, "editor");
    EXPECT_EQ(std::string(text), expectedTemplate("0,20,320,240"));
    EXPECT_EQ(size, int32_t(std::strlen(text) + 1));

    // All outs null: still 0, and the text is built again from the page's new size.
    world.script.width = 640;
    world.log.clear();
    EXPECT_EQ(editorGetTemplate(&provider, templateText, "editor", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(templateText), expectedTemplate("0,20,640,240"));
    EXPECT_EQ(world.log.front(), "GetPages");
}

TEST_F(EditorTemplateTest, OtherNamesAreRefusedAndNothingWritten) {
    fake::Provider provider({fake::pageA});
    for (const char* refused : {"Editor", "inspector", "propertyPages", "editor ", "", (const char*)nullptr}) {
        SCOPED_TRACE(refused ? refused : "null");
        char templateText[editorTemplateTextSize] = "";
        char name[8] = "sent";
        char text[8] = "sent";
        int32_t size = 0xCAFE;
        EXPECT_EQ(editorGetTemplate(&provider, templateText, refused, name, text, &size), 1);
        EXPECT_STREQ(name, "sent");
        EXPECT_STREQ(text, "sent");
        EXPECT_EQ(size, 0xCAFE);
        EXPECT_STREQ(templateText, "");
    }
    EXPECT_TRUE(world.log.empty());
}

TEST_F(EditorTemplateTest, NoProviderGivesEmptyTextOfSizeOne) {
    char templateText[editorTemplateTextSize] = "";
    char name[8] = "";
    char text[8] = "sent";
    int32_t size = 0xCAFE;
    EXPECT_EQ(editorGetTemplate(nullptr, templateText, "editor", name, text, &size), 0);
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
