// palisander-host: a command-line host that uses palisander.dll as a sequencer does.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "Editor.h"
#include "Live.h"
#include "ModuleLoader.h"
#include "Options.h"
#include "Render.h"

namespace {

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

int runList(const Options& o) {
    ModuleLoader loader;
    std::string error;
    if (!loader.load(o.modulePath, &error)) {
        std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
        return 1;
    }
    const std::vector<PluginClass>& classes = loader.classes();
    if (o.json) {
        std::printf("{\"factory\": %s, \"classes\": [", jsonText(loader.factoryName()).c_str());
        for (size_t i = 0; i < classes.size(); ++i)
            std::printf("%s\n  {\"clsid\": %s, \"name\": %s, \"category\": %s}", i ? "," : "",
                        jsonText(guidText(classes[i].classId)).c_str(), jsonText(classes[i].name).c_str(),
                        jsonText(classes[i].category).c_str());
        std::printf("%s]}\n", classes.empty() ? "" : "\n");
        return 0;
    }
    std::printf("%s: %u class%s\n", loader.factoryName().c_str(), unsigned(classes.size()),
                classes.size() == 1 ? "" : "es");
    std::printf("%-38s  %-24s  %s\n", "CLSID", "Name", "Category");
    for (const PluginClass& c : classes)
        std::printf("%-38s  %-24s  %s\n", guidText(c.classId).c_str(), c.name.c_str(), c.category.c_str());
    return 0;
}

struct OleSession {
    bool ok;
    OleSession() : ok(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleSession() {
        if (ok) OleUninitialize();
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Plain line ends on pipes, as scripts reading the output expect.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!parseOptions(args, options, error)) {
        std::fprintf(stderr, "palisander-host: %s\n", error.c_str());
        return 2;
    }
    if (options.command == Command::Help) {
        std::fputs(options.helpText.c_str(), args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    OleSession ole;
    if (!ole.ok) {
        std::fprintf(stderr, "palisander-host: COM could not be initialised\n");
        return 1;
    }
    switch (options.command) {
    case Command::List: return runList(options);
    case Command::Render: return runRender(options);
    case Command::Live: return runLive(options);
    case Command::Editor: return runEditor(options);
    case Command::Bench: return runBench(options);
    case Command::Help: break;
    }
    return 2;
}
