#include "editor/EditorTemplate.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "editor/PropertyPageView.h"

void buildEditorTemplate(ISpecifyPropertyPages* pages, char* templateText) {
    if (!pages || !templateText) return;
    int32_t width = 0;
    int32_t height = 0;
    PropertyPageView::probePageSize(pages, &width, &height);
    if (width == 0 || height == 0) {
        width = 500;
        height = 500;
    }
    std::snprintf(templateText, editorTemplateTextSize,
                  "<template name=\"editor\">"
                  "<view name=\"host.PresetViewHorizontalSmall\" data=\"Preset\" size=\"0,0,140,20\"/>"
                  "<view name=\"propertyPages\" "
                  "size=\"0,20,%d,%d\""
                  "/>"
                  "</template>",
                  int(width), int(height));
}

int32_t editorGetTemplate(ISpecifyPropertyPages* pages, EditorTemplateText& state, const char* name, char* nameOut,
                          char* textOut, int32_t* sizeOut) {
    if (!name || std::strcmp(name, "editor") != 0) return 1;
    // The host sized its buffer from the answer before: a page whose size has changed
    // since would make a longer text than that buffer holds.
    if (!(textOut && state.sizeAnswered)) buildEditorTemplate(pages, state.text);
    state.sizeAnswered = !textOut && sizeOut;
    const char* templateText = state.text;
    if (nameOut) std::strcpy(nameOut, "editor");
    if (textOut) std::strcpy(textOut, templateText);
    if (sizeOut) *sizeOut = int32_t(std::strlen(templateText) + 1);
    return 0;
}

int32_t editorCreateView(ISpecifyPropertyPages* pages, const char* name, const ViewRect* rect, IModuleView** out) {
    if (!out) return 1;
    *out = nullptr;
    if (!name || std::strcmp(name, "propertyPages") != 0) return 1;
    PropertyPageView* view = new (std::nothrow) PropertyPageView(rect, pages);
    if (view) *out = view->view();
    return 0;
}
