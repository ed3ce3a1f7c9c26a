// The filter instance's editor: the "editor" template text and the "propertyPages" view.
#pragma once

#include <ocidl.h>
#include <cstdint>

#include "interfaces/HostInterfaces.h"

// Size of the instance's template text buffer.
constexpr int32_t editorTemplateTextSize = 1024;

// Rebuilds templateText (editorTemplateTextSize bytes) from the page's preferred size;
// leaves it unchanged when pages is null.
void buildEditorTemplate(ISpecifyPropertyPages* pages, char* templateText);

// The instance's template text, and whether the last call asked for its size only.
struct EditorTemplateText {
    char text[editorTemplateTextSize] = "";
    bool sizeAnswered = false;
};

// getTemplate of IEditorDescription: 0 for "editor" (every out may be null), 1 otherwise.
// The text is built anew from the page's size, except for a copy right after a size
// request: that copy is the text whose size the host was given.
int32_t editorGetTemplate(ISpecifyPropertyPages* pages, EditorTemplateText& state, const char* name, char* nameOut,
                          char* textOut, int32_t* sizeOut);

// createView of IViewFactory: 0 and a new PropertyPageView (its one reference the
// caller's) for "propertyPages", else 1 and null.
int32_t editorCreateView(ISpecifyPropertyPages* pages, const char* name, const ViewRect* rect, IModuleView** out);
