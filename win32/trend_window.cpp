#include "win32/trend_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objidl.h>

// After objidl.h: the lean Windows headers leave out what it needs.
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "win32/boxes.h"
#include "win32/control_ids.h"
#include "win32/save_dialog.h"
#include "win32/text.h"

namespace busdesk::win32 {

namespace {

constexpr std::array<const char*, 3> kKeys{"Level", "Temperature", "Current"};

engine::TimeMs Now() {
    return engine::ToMs(std::chrono::system_clock::now());
}

UINT DpiOf(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = fn != nullptr ? fn(hwnd) : 0;
    return dpi != 0 ? dpi : 96;
}

COLORREF Mix(COLORREF a, COLORREF b, int percentOfB) {
    const auto mix = [percentOfB](int x, int y) {
        return static_cast<BYTE>((x * (100 - percentOfB) + y * percentOfB) / 100);
    };
    return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
               mix(GetBValue(a), GetBValue(b)));
}

bool Dark(COLORREF ground) {
    return (GetRValue(ground) * 299 + GetGValue(ground) * 587 + GetBValue(ground) * 114) / 1000 <
           128;
}

COLORREF SeriesColor(std::size_t k, bool dark) {
    const engine::Rgb c = engine::SeriesRgb(k, dark);
    return RGB(c.r, c.g, c.b);
}

COLORREF MarkColor(engine::TrendMark::State s, bool dark) {
    const engine::Rgb c = engine::MarkRgb(s, dark);
    return RGB(c.r, c.g, c.b);
}

int Round(float v) {
    return static_cast<int>(v < 0 ? v - 0.5f : v + 0.5f);
}

SIZE Extent(HDC dc, const std::wstring& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return size;
}

void Text(HDC dc, int x, int y, const std::wstring& s) {
    TextOutW(dc, x, y, s.c_str(), static_cast<int>(s.size()));
}

void Line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

std::wstring TextOfWindow(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetTextIfChanged(HWND w, const std::wstring& text) {
    if (w != nullptr && TextOfWindow(w) != text) SetWindowTextW(w, text.c_str());
}

HMENU IdOf(const char* name) {
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(TrendControlId(name)));
}

}  // namespace

TrendWindow::TrendWindow(const engine::TrendStore& store) : store_(store) {}

TrendWindow::~TrendWindow() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (font_ != nullptr) DeleteObject(font_);
    if (bold_ != nullptr) DeleteObject(bold_);
}

HWND TrendWindow::Item(const char* name) const {
    return hwnd_ != nullptr ? GetDlgItem(hwnd_, TrendControlId(name)) : nullptr;
}

void TrendWindow::Open(HWND owner) {
    if (hwnd_ == nullptr && !Create(owner)) return;
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd_);
    Rebuild();
}

bool TrendWindow::Create(HWND owner) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kTrendClass;
    RegisterClassExW(&wc);
    WNDCLASSEXW cc{};
    cc.cbSize = sizeof cc;
    cc.lpfnWndProc = ChartProc;
    cc.hInstance = instance;
    cc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32515));  // IDC_CROSS
    cc.lpszClassName = kChartClass;  // no background brush: the chart paints every pixel
    RegisterClassExW(&cc);

    // Owned by the main window: above it, and gone with it.
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kTrendClass, L"График — BusDesk",
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            960, 640, owner, nullptr, instance, this);
    if (hwnd_ == nullptr) return false;
    dpi_ = DpiOf(hwnd_);
    MakeFont();
    const auto make = [this, instance](const wchar_t* cls, const wchar_t* text, DWORD style,
                                       const char* name, DWORD ex = 0) {
        HWND w = CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                 IdOf(name), instance, nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return w;
    };
    make(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, "TrendDevice");
    // Names the list that follows it for UI Automation; no ID of its own.
    HWND label = CreateWindowExW(0, L"STATIC", L"&Интервал:",
                                 WS_CHILD | WS_VISIBLE | SS_RIGHT | SS_CENTERIMAGE, 0, 0, 10, 10,
                                 hwnd_, nullptr, instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    intervalLabel_ = label;
    HWND interval =
        make(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, "TrendInterval");
    for (const int m : engine::kWindowMinutes) {
        const std::wstring item = std::to_wstring(m) + L" мин";
        SendMessageW(interval, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    SendMessageW(interval, CB_SETCURSEL, 1, 0);
    make(L"BUTTON", L"&Пауза", BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP, "TrendPause");
    make(L"BUTTON", L"Сохранить &CSV…", BS_PUSHBUTTON | WS_TABSTOP, "TrendCsv");
    make(L"BUTTON", L"Сохранить P&NG…", BS_PUSHBUTTON | WS_TABSTOP, "TrendPng");
    for (std::size_t k = 0; k < 3; ++k) {
        const std::wstring name = Wide(engine::QuantityName(engine::kQuantities[k]));
        const std::string key = kKeys[k];
        HWND a = make(L"BUTTON", (name + L": авто").c_str(), BS_AUTOCHECKBOX | WS_TABSTOP,
                      ("TrendAuto" + key).c_str());
        SendMessageW(a, BM_SETCHECK, BST_CHECKED, 0);
        for (const char* bound : {"TrendFrom", "TrendTo"}) {
            HWND e = make(L"EDIT", L"0", ES_AUTOHSCROLL | WS_TABSTOP, (bound + key).c_str(),
                          WS_EX_CLIENTEDGE);
            EnableWindow(e, FALSE);
        }
    }
    chartHwnd_ = CreateWindowExW(0, kChartClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, hwnd_,
                                 IdOf("TrendChart"), instance, this);
    make(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, "TrendLatest");
    make(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, "TrendReadout");
    SetDevice(device_);
    Layout();
    return true;
}

void TrendWindow::MakeFont() {
    if (font_ != nullptr) DeleteObject(font_);
    if (bold_ != nullptr) DeleteObject(bold_);
    const int height = -MulDiv(8, static_cast<int>(dpi_), 72);
    const auto make = [height](int weight) {
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    };
    font_ = make(FW_NORMAL);
    bold_ = make(FW_BOLD);
}

void TrendWindow::Layout() {
    if (hwnd_ == nullptr) return;
    const auto px = [this](int at96) { return MulDiv(at96, static_cast<int>(dpi_), 96); };
    RECT r{};
    GetClientRect(hwnd_, &r);
    const int m = px(8);
    const int row = px(24);
    int x = m;
    const auto place = [&](const char* name, int w, int y, int h) {
        if (HWND c = Item(name))
            SetWindowPos(c, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        x += w + px(6);
    };
    place("TrendDevice", px(120), m, row);
    SetWindowPos(intervalLabel_, nullptr, x, m, px(64), row, SWP_NOZORDER | SWP_NOACTIVATE);
    x += px(70);
    place("TrendInterval", px(80), m, px(200));
    place("TrendPause", px(100), m, row);
    place("TrendCsv", px(130), m, row);
    place("TrendPng", px(130), m, row);
    x = m;
    const int y2 = m + row + px(6);
    for (const char* key : kKeys) {
        const std::string k = key;
        place(("TrendAuto" + k).c_str(), px(124), y2, row);
        place(("TrendFrom" + k).c_str(), px(72), y2, row);
        place(("TrendTo" + k).c_str(), px(72), y2, row);
        x += px(10);
    }
    const int top = y2 + row + px(6);
    const int text = px(18);
    const int bottom = r.bottom - m - 2 * text;
    SetWindowPos(chartHwnd_, nullptr, m, top, std::max(static_cast<int>(r.right) - 2 * m, 1),
                 std::max(bottom - top, 1), SWP_NOZORDER | SWP_NOACTIVATE);
    x = m;
    place("TrendLatest", r.right - 2 * m, bottom + px(2), text);
    x = m;
    place("TrendReadout", r.right - 2 * m, bottom + px(2) + text, text);
}

LRESULT CALLBACK TrendWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        reinterpret_cast<TrendWindow*>(cs->lpCreateParams)->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<TrendWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->hwnd_ != hwnd) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->OnMessage(msg, wParam, lParam);
}

LRESULT CALLBACK TrendWindow::ChartProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TrendWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || (self->chartHwnd_ != nullptr && self->chartHwnd_ != hwnd))
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->OnChartMessage(hwnd, msg, wParam, lParam);
}

LRESULT TrendWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {MulDiv(560, static_cast<int>(dpi_), 96),
                                    MulDiv(360, static_cast<int>(dpi_), 96)};
            return 0;
        }
        case WM_DPICHANGED: {
            dpi_ = LOWORD(wParam);
            MakeFont();
            EnumChildWindows(
                hwnd_,
                [](HWND child, LPARAM font) {
                    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(font_));
            const auto* r = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            Rebuild();
            return 0;
        }
        case WM_CLOSE:
            // Hidden, not destroyed: the next opening finds it where the user left it.
            ShowWindow(hwnd_, SW_HIDE);
            return 0;
        case WM_DESTROY:
            hwnd_ = nullptr;
            chartHwnd_ = nullptr;
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT TrendWindow::OnChartMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel; erasing first would flicker
        case WM_SIZE:
            Rebuild();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(self, &ps);
            RECT r{};
            GetClientRect(self, &r);
            // Drawn off screen, then copied at once.
            HDC mem = CreateCompatibleDC(dc);
            HBITMAP bmp =
                CreateCompatibleBitmap(dc, std::max<LONG>(r.right, 1), std::max<LONG>(r.bottom, 1));
            HGDIOBJ old = SelectObject(mem, bmp);
            PaintChart(mem, r.right, r.bottom);
            BitBlt(dc, 0, 0, r.right, r.bottom, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bmp);
            DeleteDC(mem);
            EndPaint(self, &ps);
            return 0;
        }
        case WM_MOUSEMOVE: {
            if (!tracking_) {
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, self, 0};
                tracking_ = TrackMouseEvent(&t) != FALSE;
            }
            const int x = static_cast<short>(LOWORD(lParam));
            if (cursorX_ != x) {
                cursorX_ = x;
                Rebuild();
            }
            return 0;
        }
        case WM_MOUSELEAVE:
            tracking_ = false;
            cursorX_.reset();
            Rebuild();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(self, msg, wParam, lParam);
}

void TrendWindow::OnCommand(int id, int code) {
    const auto is = [id](const char* name) { return id == TrendControlId(name); };
    if (is("TrendInterval") && code == CBN_SELCHANGE) {
        const auto i = SendMessageW(Item("TrendInterval"), CB_GETCURSEL, 0, 0);
        if (i >= 0 && static_cast<std::size_t>(i) < engine::kWindowMinutes.size()) {
            minutes_ = engine::kWindowMinutes[static_cast<std::size_t>(i)];
            Rebuild();
        }
    } else if (is("TrendPause") && code == BN_CLICKED) {
        SetPaused(SendMessageW(Item("TrendPause"), BM_GETCHECK, 0, 0) == BST_CHECKED);
    } else if (is("TrendCsv") && code == BN_CLICKED) {
        SaveCsv();
    } else if (is("TrendPng") && code == BN_CLICKED) {
        SavePng();
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string key = kKeys[k];
        if (is(("TrendAuto" + key).c_str()) && code == BN_CLICKED) {
            const bool automatic =
                SendMessageW(Item(("TrendAuto" + key).c_str()), BM_GETCHECK, 0, 0) == BST_CHECKED;
            if (!automatic) {
                // A fixed scale starts from what is shown.
                const engine::SeriesChart& s = chart_.series[k];
                SetWindowTextW(Item(("TrendFrom" + key).c_str()),
                               std::to_wstring(static_cast<long long>(s.lo)).c_str());
                SetWindowTextW(Item(("TrendTo" + key).c_str()),
                               std::to_wstring(static_cast<long long>(s.hi)).c_str());
            }
            EnableWindow(Item(("TrendFrom" + key).c_str()), automatic ? FALSE : TRUE);
            EnableWindow(Item(("TrendTo" + key).c_str()), automatic ? FALSE : TRUE);
            ReadScale(k);
        } else if ((is(("TrendFrom" + key).c_str()) || is(("TrendTo" + key).c_str())) &&
                   code == EN_CHANGE) {
            ReadScale(k);
        }
    }
}

void TrendWindow::ReadScale(std::size_t k) {
    const std::string key = kKeys[k];
    engine::Scale s;
    s.automatic = SendMessageW(Item(("TrendAuto" + key).c_str()), BM_GETCHECK, 0, 0) == BST_CHECKED;
    const std::wstring lo = TextOfWindow(Item(("TrendFrom" + key).c_str()));
    const std::wstring hi = TextOfWindow(Item(("TrendTo" + key).c_str()));
    s.lo = std::wcstod(lo.c_str(), nullptr);
    s.hi = std::wcstod(hi.c_str(), nullptr);
    scales_[k] = s;
    Rebuild();
}

void TrendWindow::SetPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) pausedAt_ = Now();
    SetWindowTextW(Item("TrendPause"), paused ? L"&Продолжить" : L"&Пауза");
    Rebuild();
}

void TrendWindow::SetDevice(std::optional<std::uint8_t> address) {
    device_ = address;
    if (hwnd_ == nullptr) return;
    SetTextIfChanged(Item("TrendDevice"), address ? L"Устройство " + std::to_wstring(*address)
                                                  : std::wstring(L"Устройство не выбрано"));
    cursorX_.reset();
    Rebuild();
}

void TrendWindow::DataChanged() {
    if (hwnd_ == nullptr || !IsWindowVisible(hwnd_)) return;
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const std::uint64_t v = d != nullptr ? d->version : 0;
    if (v == shownVersion_) return;
    // Paused, the chart stays as it was; the latest values still move on.
    if (paused_) {
        UpdateLatest();
        return;
    }
    Rebuild();
}

void TrendWindow::UpdateLatest() {
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const std::wstring latest = Wide(engine::LatestText(d, engine::LocalUtcOffsetMinutes(Now())));
    if (latest == latest_) return;
    latest_ = latest;
    SetTextIfChanged(Item("TrendLatest"), latest);
    // The chart's name for UI Automation is the latest values.
    SetTextIfChanged(chartHwnd_, latest);
}

void TrendWindow::Rebuild() {
    if (hwnd_ == nullptr || chartHwnd_ == nullptr) return;
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    shownVersion_ = d != nullptr ? d->version : 0;
    RECT r{};
    GetClientRect(chartHwnd_, &r);
    const auto px = [this](int at96) { return MulDiv(at96, static_cast<int>(dpi_), 96); };
    HDC dc = GetDC(chartHwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int wide = Extent(dc, L"-4 294 967 295").cx;
    const int clock = Extent(dc, L"00:00").cx;
    SelectObject(dc, old);
    ReleaseDC(chartHwnd_, dc);

    const engine::TimeMs now = Now();
    engine::ChartView view;
    view.end = paused_ ? pausedAt_ : now;
    view.windowMinutes = minutes_;
    view.width = r.right;
    view.height = r.bottom;
    view.left = wide + px(10);
    view.right = clock / 2 + px(4);
    view.top = px(2);
    view.bottom = tm.tmHeight + px(8);
    view.bandGap = tm.tmHeight + px(6);
    view.utcOffsetMinutes = engine::LocalUtcOffsetMinutes(now);
    view.scales = scales_;
    view.cursorX = cursorX_;
    chart_ = engine::BuildChart(d, view);
    SetTextIfChanged(Item("TrendReadout"),
                     chart_.cursor ? Wide(chart_.cursor->text)
                     : paused_     ? std::wstring(L"Наведите мышь на график, чтобы прочесть значения")
                                   : std::wstring());
    UpdateLatest();
    InvalidateRect(chartHwnd_, nullptr, FALSE);
}

void TrendWindow::PaintChart(HDC dc, int width, int height) const {
    const engine::Chart& c = chart_;
    const COLORREF ground = GetSysColor(COLOR_WINDOW);
    const COLORREF ink = GetSysColor(COLOR_WINDOWTEXT);
    const bool dark = Dark(ground);
    const COLORREF grid = Mix(ground, ink, 16);
    const COLORREF frame = Mix(ground, ink, 45);
    const COLORREF gapFill = Mix(ground, ink, 9);
    RECT all{0, 0, width, height};
    HBRUSH groundBrush = CreateSolidBrush(ground);
    FillRect(dc, &all, groundBrush);
    DeleteObject(groundBrush);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const engine::Rect& plot = c.plot;
    const int thick = std::max(1, MulDiv(3, static_cast<int>(dpi_), 192));

    HBRUSH gapBrush = CreateSolidBrush(gapFill);
    for (const engine::GapSpan& g : c.gaps) {
        for (const engine::SeriesChart& s : c.series) {
            RECT gr{Round(g.x0), s.band.y, std::max(Round(g.x1), Round(g.x0) + 1),
                    s.band.y + s.band.h};
            FillRect(dc, &gr, gapBrush);
        }
    }
    DeleteObject(gapBrush);

    HPEN gridPen = CreatePen(PS_SOLID, 1, grid);
    HGDIOBJ oldPen = SelectObject(dc, gridPen);
    SetTextColor(dc, ink);
    for (const engine::AxisTick& t : c.timeTicks) {
        const int x = Round(t.pos);
        for (const engine::SeriesChart& s : c.series) Line(dc, x, s.band.y, x, s.band.y + s.band.h);
        const std::wstring label = Wide(t.label);
        const int w = Extent(dc, label).cx;
        Text(dc, std::clamp(x - w / 2, plot.x - w / 2, plot.x + plot.w - w), plot.y + plot.h + 4,
             label);
    }
    for (const engine::SeriesChart& s : c.series) {
        for (const engine::AxisTick& t : s.ticks) {
            const int y = Round(t.pos);
            Line(dc, s.band.x, y, s.band.x + s.band.w, y);
            const std::wstring label = Wide(t.label);
            Text(dc, s.band.x - 6 - Extent(dc, label).cx, y - tm.tmHeight / 2, label);
        }
    }
    SelectObject(dc, oldPen);
    DeleteObject(gridPen);

    HPEN framePen = CreatePen(PS_SOLID, 1, frame);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    oldPen = SelectObject(dc, framePen);
    for (const engine::SeriesChart& s : c.series)
        Rectangle(dc, s.band.x, s.band.y, s.band.x + s.band.w, s.band.y + s.band.h);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(framePen);

    std::vector<POINT> points;
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        const engine::SeriesChart& s = c.series[k];
        const COLORREF colour = SeriesColor(k, dark);
        SelectObject(dc, bold_);
        SetTextColor(dc, colour);
        Text(dc, s.band.x, s.band.y - tm.tmHeight - 2, Wide(s.title));
        SelectObject(dc, font_);
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, s.band.x, s.band.y - 1, s.band.x + s.band.w, s.band.y + s.band.h + 1);
        HPEN pen = CreatePen(PS_SOLID, thick, colour);
        HGDIOBJ was = SelectObject(dc, pen);
        for (const std::vector<engine::PointF>& line : s.lines) {
            points.clear();
            for (const engine::PointF& p : line) points.push_back({Round(p.x), Round(p.y)});
            if (points.size() == 1) points.push_back({points[0].x + 1, points[0].y});
            Polyline(dc, points.data(), static_cast<int>(points.size()));
        }
        SelectObject(dc, was);
        DeleteObject(pen);
        RestoreDC(dc, saved);
    }

    for (const engine::ChartMark& m : c.marks) {
        const COLORREF colour = MarkColor(m.state, dark);
        HPEN pen = CreatePen(PS_DOT, 1, colour);
        HGDIOBJ was = SelectObject(dc, pen);
        const int x = Round(m.x);
        Line(dc, x, plot.y, x, plot.y + plot.h);
        SelectObject(dc, was);
        DeleteObject(pen);
        SetTextColor(dc, colour);
        const std::wstring label = Wide(m.label);
        const int w = Extent(dc, label).cx;
        Text(dc, x + 4 + w > plot.x + plot.w ? x - 4 - w : x + 4, c.series[0].band.y + 2, label);
    }

    if (c.cursor) {
        HPEN pen = CreatePen(PS_SOLID, 1, ink);
        HGDIOBJ was = SelectObject(dc, pen);
        const int x = Round(c.cursor->x);
        Line(dc, x, plot.y, x, plot.y + plot.h);
        SelectObject(dc, was);
        DeleteObject(pen);
    }
    SelectObject(dc, oldFont);
}

std::wstring TrendWindow::AskPath(const wchar_t* title, const wchar_t* filter, const wchar_t* ext,
                                  const std::wstring& name) {
    return AskSavePath(hwnd_, title, filter, ext, name);
}

void TrendWindow::SayFailure(const std::wstring& path) {
    const std::wstring text = L"Не удалось записать " + path;
    RussianMessageBox(hwnd_, text, L"График — BusDesk", MB_OK | MB_ICONWARNING);
}

void TrendWindow::SaveCsv() {
    const std::wstring name = L"trend-" + std::to_wstring(device_.value_or(0)) + L".csv";
    const std::wstring path = AskPath(L"Сохранить CSV", L"CSV\0*.csv\0", L"csv", name);
    if (path.empty()) return;
    const engine::DeviceTrend* d = device_ ? store_.Device(*device_) : nullptr;
    const std::string csv = d != nullptr ? engine::TrendCsv(*d, *device_, chart_.from, chart_.to)
                                         : engine::TrendCsv(engine::DeviceTrend(0), 0, 0, -1);
    FILE* f = _wfopen(path.c_str(), L"wb");
    bool ok = f != nullptr && std::fwrite(csv.data(), 1, csv.size(), f) == csv.size();
    if (f != nullptr) ok = std::fclose(f) == 0 && ok;
    if (!ok) SayFailure(path);
}

// GDI+ is the system's own PNG encoder; nothing to link in.
void TrendWindow::SavePng() {
    const std::wstring name = L"trend-" + std::to_wstring(device_.value_or(0)) + L".png";
    const std::wstring path = AskPath(L"Сохранить PNG", L"PNG\0*.png\0", L"png", name);
    if (path.empty()) return;
    RECT r{};
    GetClientRect(chartHwnd_, &r);
    HDC screen = GetDC(chartHwnd_);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp =
        CreateCompatibleBitmap(screen, std::max<LONG>(r.right, 1), std::max<LONG>(r.bottom, 1));
    HGDIOBJ old = SelectObject(mem, bmp);
    PaintChart(mem, r.right, r.bottom);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(chartHwnd_, screen);

    bool ok = false;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        Gdiplus::GpBitmap* image = nullptr;
        if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bmp, nullptr, &image) == Gdiplus::Ok) {
            const CLSID png{
                0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
            ok = Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &png, nullptr) ==
                 Gdiplus::Ok;
            Gdiplus::DllExports::GdipDisposeImage(image);
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bmp);
    if (!ok) SayFailure(path);
}

}  // namespace busdesk::win32
