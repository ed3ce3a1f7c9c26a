// The editor: the module's "editor" template laid out in a real top-level window,
// with a placeholder for the host's preset view and the module's "propertyPages" view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"
#include "interfaces/ComExtras.h"
#include "interfaces/HostInterfaces.h"

class Session;

struct TemplateView {
    std::string name;
    std::string data;
    int32_t x = 0, y = 0, width = 0, height = 0;  // size="x,y,width,height"
};

// Reads <template name="..."> and its <view name=".." data=".." size="x,y,w,h"/> entries.
bool parseTemplate(const std::string& text, std::string& templateName, std::vector<TemplateView>& views,
                   std::string& error);

// The host's side of an editor: the "editor" template laid out in a top-level window, with a
// placeholder for the host's preset view and a pane for the module's "propertyPages" view.
class EditorFrame {
public:
    EditorFrame() = default;
    ~EditorFrame();
    EditorFrame(const EditorFrame&) = delete;
    EditorFrame& operator=(const EditorFrame&) = delete;

    // Asks for the template, builds the windows (hidden) and creates the view, not attached.
    bool open(Session& session, std::string& error);

    HWND window() const { return top_; }
    HWND pane() const { return pane_; }
    IModuleView* view() const { return view_.get(); }
    const TemplateView& pageView() const { return views_[page_]; }
    const std::string& templateName() const { return name_; }

private:
    HWND top_ = nullptr;
    HWND pane_ = nullptr;
    ComRef<IModuleView> view_;
    std::vector<TemplateView> views_;
    size_t page_ = 0;
    std::string name_;
};

// Handles the messages waiting for this thread's windows for about that long.
void pumpMessages(DWORD milliseconds);

int runEditor(const Options& options);
