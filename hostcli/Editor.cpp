#include "Editor.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "PngWriter.h"
#include "Session.h"
#include "host/UniqueId.h"
#include "interfaces/ComExtras.h"

namespace {

// The value of attribute `name` inside one tag; false when it is missing.
bool attribute(const std::string& tag, const char* name, std::string& out) {
    std::string key = std::string(" ") + name + "=\"";
    size_t at = tag.find(key);
    if (at == std::string::npos) return false;
    at += key.size();
    size_t close = tag.find('"', at);
    if (close == std::string::npos) return false;
    out = tag.substr(at, close - at);
    return true;
}

bool parseSize(const std::string& text, TemplateView& view) {
    int32_t v[4];
    const char* p = text.c_str();
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        long n = std::strtol(p, &end, 10);
        if (end == p || (i < 3 ? *end != ',' : *end != 0)) return false;
        v[i] = int32_t(n);
        p = end + (i < 3 ? 1 : 0);
    }
    view.x = v[0];
    view.y = v[1];
    view.width = v[2];
    view.height = v[3];
    return true;
}

bool closed = false;

LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) {
        // Closed by the user: the view is detached before the window goes.
        closed = true;
        ShowWindow(hwnd, SW_HIDE);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, w, l);
}

// The window's pixels as RGB rows, from the screen or, failing that, by PrintWindow.
bool capture(HWND hwnd, int& width, int& height, std::vector<uint8_t>& rgb) {
    RECT r;
    if (!GetWindowRect(hwnd, &r)) return false;
    width = r.right - r.left;
    height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
    if (!ok) ok = PrintWindow(hwnd, memory, 0) != 0;
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgra(size_t(width) * size_t(height) * 4);
    if (ok) ok = GetDIBits(memory, bitmap, 0, UINT(height), bgra.data(), &info, DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;
    rgb.resize(size_t(width) * size_t(height) * 3);
    for (size_t i = 0, n = size_t(width) * size_t(height); i < n; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "palisander-host: %s\n", message.c_str());
    return 1;
}

}  // namespace

bool parseTemplate(const std::string& text, std::string& templateName, std::vector<TemplateView>& views,
                   std::string& error) {
    std::vector<TemplateView> found;
    size_t open = text.find("<template ");
    size_t openEnd = open == std::string::npos ? open : text.find('>', open);
    std::string name;
    if (openEnd == std::string::npos || !attribute(text.substr(open, openEnd - open), "name", name)) {
        error = "the template has no <template name=\"...\"> tag";
        return false;
    }
    size_t closeTag = text.find("</template>", openEnd);
    if (closeTag == std::string::npos) {
        error = "the template is not closed";
        return false;
    }
    size_t at = openEnd;
    while ((at = text.find("<view ", at)) != std::string::npos && at < closeTag) {
        size_t end = text.find("/>", at);
        if (end == std::string::npos || end > closeTag) {
            error = "a view tag of the template is not closed";
            return false;
        }
        std::string tag = text.substr(at, end - at);
        TemplateView view;
        std::string size;
        if (!attribute(tag, "name", view.name) || !attribute(tag, "size", size) || !parseSize(size, view)) {
            error = "a view of the template lacks a name or a size x,y,width,height: " + tag + "/>";
            return false;
        }
        attribute(tag, "data", view.data);
        found.push_back(view);
        at = end + 2;
    }
    templateName = name;
    views = found;
    return true;
}

void pumpMessages(DWORD milliseconds) {
    DWORD until = GetTickCount() + milliseconds;
    MSG msg;
    do {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (int32_t(until - GetTickCount()) > 0);
}

EditorFrame::~EditorFrame() {
    view_.reset();
    if (top_ && IsWindow(top_)) DestroyWindow(top_);
}

bool EditorFrame::open(Session& session, std::string& error) {
    const std::string& filterName = session.filterClass().name;
    ComRef<IEditorDescription> editor(session.query<IEditorDescription>(hostid::IEditorDescription));
    ComRef<IViewFactory> factory(session.query<IViewFactory>(hostid::IViewFactory));
    if (!editor || !factory) {
        error = "the filter \"" + filterName + "\" offers no editor interfaces";
        return false;
    }
    char templateName[256] = {};
    int32_t size = 0;
    if (editor->getTemplate("editor", templateName, nullptr, &size) != 0 || size <= 1 || size > 65536) {
        error = "the filter \"" + filterName + "\" has no editor";
        return false;
    }
    std::vector<char> text(size_t(size) + 1, 0);
    int32_t size2 = size;
    if (editor->getTemplate("editor", templateName, text.data(), &size2) != 0 || size2 != size) {
        error = "the filter \"" + filterName + "\" gave no editor template";
        return false;
    }
    if (!parseTemplate(std::string(text.data(), strnlen(text.data(), text.size())), name_, views_, error))
        return false;

    int clientWidth = 0, clientHeight = 0;
    page_ = views_.size();
    for (size_t i = 0; i < views_.size(); ++i) {
        const TemplateView& v = views_[i];
        clientWidth = std::max(clientWidth, v.x + v.width);
        clientHeight = std::max(clientHeight, v.y + v.height);
        if (v.name == "propertyPages") page_ = i;
    }
    if (page_ == views_.size()) {
        error = "the editor template of \"" + filterName + "\" has no \"propertyPages\" view";
        return false;
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA cls = {};
    cls.lpfnWndProc = frameProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = "PalisanderHostEditor";
    RegisterClassA(&cls);
    WNDCLASSA pane = cls;
    pane.lpfnWndProc = DefWindowProcA;
    pane.lpszClassName = "PalisanderHostViewPane";
    RegisterClassA(&pane);

    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    std::string title = "palisander-host: " + filterName;
    top_ = CreateWindowExA(WS_EX_CONTROLPARENT, cls.lpszClassName, title.c_str(), style, 40, 40,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!top_) {
        error = "cannot create the host window";
        return false;
    }
    for (size_t i = 0; i < views_.size(); ++i) {
        const TemplateView& v = views_[i];
        if (i == page_) {
            pane_ = CreateWindowExA(WS_EX_CONTROLPARENT, pane.lpszClassName, "", WS_CHILD | WS_VISIBLE, v.x, v.y,
                                    v.width, v.height, top_, nullptr, instance, nullptr);
        } else {
            // The host's own views (the preset bar): a placeholder showing the view's data.
            std::string label = v.data.empty() ? v.name : v.data;
            CreateWindowExA(0, "STATIC", label.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE | WS_BORDER,
                            v.x, v.y, v.width, v.height, top_, nullptr, instance, nullptr);
        }
    }
    if (!pane_) {
        error = "cannot create the window for the filter's page";
        return false;
    }
    const TemplateView& p = views_[page_];
    ViewRect rect = {p.x, p.y, p.x + p.width, p.y + p.height};
    if (factory->createView("propertyPages", &rect, view_.put()) != 0 || !view_) {
        error = "the module did not create the \"propertyPages\" view of \"" + filterName + "\"";
        return false;
    }
    return true;
}

int runEditor(const Options& o) {
    std::string error;
    Session session;
    if (!session.open(o.modulePath, o.filter, error)) return fail(error);
    const std::string& filterName = session.filterClass().name;
    EditorFrame frame;
    if (!frame.open(session, error)) return fail(error);
    IModuleView* view = frame.view();
    if (view->attachToParent(frame.pane()) != S_OK) {
        view->detachFromParent();
        return fail("the page of \"" + filterName + "\" could not be shown");
    }
    HWND top = frame.window();
    ShowWindow(top, SW_SHOW);
    UpdateWindow(top);
    SetForegroundWindow(top);

    int rc = 0;
    if (!o.screenshot.empty()) {
        pumpMessages(700);
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
        if (!capture(top, width, height, rgb)) {
            error = "cannot capture the editor window";
            rc = 1;
        } else if (!writeFileAtomically(o.screenshot, encodePng(width, height, rgb), error)) {
            rc = 1;
        } else {
            std::printf("editor of \"%s\" (%dx%d template \"%s\") saved to %s\n", filterName.c_str(),
                        frame.pageView().width, frame.pageView().height, frame.templateName().c_str(),
                        o.screenshot.c_str());
        }
    } else {
        std::printf("editor of \"%s\" is open; close its window to quit\n", filterName.c_str());
        std::fflush(stdout);
        MSG msg;
        while (!closed && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (IsDialogMessageA(top, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    view->detachFromParent();
    if (rc) return fail(error);
    return 0;
}
