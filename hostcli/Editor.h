// The editor: the module's "editor" template laid out in a real top-level window,
// with a placeholder for the host's preset view and the module's "propertyPages" view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"

struct TemplateView {
    std::string name;
    std::string data;
    int32_t x = 0, y = 0, width = 0, height = 0;  // size="x,y,width,height"
};

// Reads <template name="..."> and its <view name=".." data=".." size="x,y,w,h"/> entries.
bool parseTemplate(const std::string& text, std::string& templateName, std::vector<TemplateView>& views,
                   std::string& error);

int runEditor(const Options& options);
