// The yardstick for busdesk.exe under Wine: a bare Win32 window of the same
// size and class styles with nothing in it, built with the same flags.
// Built as bare_window_v6 it also carries busdesk.exe's manifest and loads the
// same common control classes. Built as bare_window_controls it also makes,
// before the first show, the same child windows busdesk.exe shows in its
// first view, with their design text and a font each, and a status bar: what
// the window's controls cost as windows, without the model, the engine or
// any message handling of busdesk.exe.
#include <windows.h>
#ifdef BARE_COMMON_CONTROLS
#include <commctrl.h>
#endif

#include "engine/geometry.h"
#ifdef BARE_CONTROLS
#include <map>
#include <set>
#include <string>

#include "engine/design_controls.h"
#include "win32/first_view.h"
#include "win32/text.h"
#include "win32/window_class.h"
#endif

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
#ifdef BARE_COMMON_CONTROLS
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
#endif
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"BareWindow";
    RegisterClassExW(&wc);
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT r{0, 0, busdesk::engine::TwipsToPixels(busdesk::engine::kClientWidthTwips, 96),
           busdesk::engine::TwipsToPixels(busdesk::engine::kClientHeightTwips, 96)};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_CONTROLPARENT);
    HWND hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, wc.lpszClassName, L"bare", style,
                                CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                                nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return 1;
#ifdef BARE_CONTROLS
    const HFONT font = CreateFontW(-MulDiv(8, 96, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    const auto design = busdesk::engine::DesignControls();
    const auto later = busdesk::win32::OutOfFirstView(design, busdesk::engine::PlaceOf,
                                                      busdesk::engine::kClientWidthTwips,
                                                      busdesk::engine::kClientHeightTwips);
    std::map<std::string, HWND> made;
    for (const auto& c : design) {
        if (c.kind == busdesk::ControlKind::Timer || later.count(c.name) != 0) continue;
        const auto place = busdesk::engine::PlaceOf(c.name);
        const auto px = [](int twips) { return busdesk::engine::TwipsToPixels(twips, 96); };
        const auto cls = busdesk::win32::WindowClassOf(c);
        const auto container = made.find(c.container);
        const std::wstring text = busdesk::win32::Wide(c.caption);
        HWND w = CreateWindowExW(
            cls.exStyle, cls.name, c.multiLine ? busdesk::win32::CrLf(text).c_str() : text.c_str(),
            cls.style, place ? px(place->x) : 0, place ? px(place->y) : 0,
            place ? px(place->width) : 10, place ? px(place->height) : 10,
            container != made.end() ? container->second : hwnd, nullptr, instance, nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        made[c.name] = w;
    }
    CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                    hwnd, nullptr, instance, nullptr);
#endif
    ShowWindow(hwnd, show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
