#include "win32/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "app/messages.h"
#include "engine/design_controls.h"
#include "engine/geometry.h"
#include "engine/journal.h"
#include "engine/line_counters.h"
#include "win32/boxes.h"
#include "win32/control_ids.h"
#include "win32/first_view.h"
#include "win32/report_action.h"
#include "win32/text.h"
#include "win32/trend_window.h"
#include "win32/window_class.h"

namespace busdesk::win32 {

namespace {

// Per-monitor DPI calls exist from Windows 10 1607; older systems get 96.
UINT DpiOf(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = fn != nullptr ? fn(hwnd) : 0;
    return dpi != 0 ? dpi : 96;
}

void AdjustForDpi(RECT& r, DWORD style, DWORD exStyle, UINT dpi) {
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (fn != nullptr) {
        fn(&r, style, FALSE, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
}

std::wstring TextOf(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Frames are real parents so they clip what lies beyond their edges; their
// children's notifications go on to the window, which handles them all.
LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    switch (msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wParam, lParam);
        case WM_ERASEBKGND: {
            // A group box paints only its edge and caption; as a parent that
            // clips its children it must fill what lies between them.
            RECT r{};
            GetClientRect(hwnd, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
            return TRUE;
        }
        default:
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool IsEditBox(const Control& c) {
    return c.kind == ControlKind::TextBox;
}

// Text the user can change (edit fields, combo boxes) is read back, never cached.
bool CaptionIsOurs(ControlKind kind) {
    return kind != ControlKind::TextBox && kind != ControlKind::ComboBox;
}

constexpr UINT_PTR kStatusTimer = 1;

}  // namespace

MainWindow::MainWindow(engine::PortFactory factory, engine::Engine::Options options)
    : factory_(std::move(factory)), options_(std::move(options)) {}

MainWindow::~MainWindow() {
    if (engine_) engine_->Stop();
    for (HFONT& f : fonts_) {
        if (f != nullptr) DeleteObject(f);
    }
}

bool MainWindow::Create(int show) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    hwnd_ =
        CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, Wide(msg::kAppTitle).c_str(), style,
                        CW_USEDEFAULT, CW_USEDEFAULT, 600, 500, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) return false;
    dpi_ = DpiOf(hwnd_);
    MakeFonts();
    // Built whole while hidden: the controls are made without WS_VISIBLE and
    // the window is shown once, below, so nothing is drawn twice.
    Build();
    Layout(true);

    // The client area above the status bar is the window's initial area.
    RECT r{0, 0, engine::TwipsToPixels(engine::kClientWidthTwips, dpi_),
           engine::TwipsToPixels(engine::kClientHeightTwips, dpi_) + statusHeight_};
    AdjustForDpi(r, style, WS_EX_CONTROLPARENT, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Started without a show request (a link, a test tool): show it as usual.
    shownOnce_ = true;
    ShowWindow(hwnd_, show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(hwnd_);
    // Ahead of the engine's first snapshot in the queue: the model's first
    // changes find every control there.
    if (!later_.empty()) PostMessageW(hwnd_, kRestMessage, 0, 0);
    engine::FrontEnd& frontEnd = *this;
    engine_ = std::make_unique<engine::Engine>(factory_, frontEnd, options_);
    engine_->Start();
    // The tool tips come a moment after the window: each one subclasses its
    // control, a handful of round trips to the server each under Wine, and
    // nobody points at a control before the window is there.
    PostMessageW(hwnd_, kTipsMessage, 0, 0);
    return true;
}

void MainWindow::MakeFonts() {
    for (HFONT& f : fonts_) {
        if (f != nullptr) DeleteObject(f);
        f = nullptr;
    }
    const int base = -MulDiv(8, static_cast<int>(dpi_), 72);
    const auto make = [](int height, int weight) {
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    };
    fonts_[static_cast<int>(FontStyle::Normal)] = make(base, FW_NORMAL);
    fonts_[static_cast<int>(FontStyle::Bold)] = make(base, FW_BOLD);
    fonts_[static_cast<int>(FontStyle::BoldLarger)] = make(base * 3 / 2, FW_BOLD);
    fonts_[static_cast<int>(FontStyle::BoldLarge)] = make(base * 13 / 10, FW_BOLD);
}

HFONT MainWindow::FontFor(FontStyle style) const {
    return fonts_[static_cast<int>(style)];
}

HWND MainWindow::MakeControl(const Control& c) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND parent = hwnd_;
    if (!c.container.empty()) {
        if (HWND frame = Window(c.container)) parent = frame;
    }
    const WindowClass cls = WindowClassOf(c);
    // Made at its place, and visible when it is to be seen: moving or
    // showing each control afterwards costs round trips to the server per
    // control under Wine. The window itself is hidden while it is built, so
    // nothing is drawn; the controls made later lie out of view.
    const auto place = engine::PlaceOf(c.name);
    const auto px = [this](int twips) { return engine::TwipsToPixels(twips, dpi_); };
    // A multi-line box shows line breaks only as CR LF; made with its text,
    // it needs no second one.
    const std::wstring text =
        c.kind == ControlKind::TextBox && c.multiLine ? CrLf(Wide(c.caption)) : Wide(c.caption);
    HWND w = CreateWindowExW(cls.exStyle, cls.name, text.c_str(), cls.style,
                             place ? px(place->x) : 0, place ? px(place->y) : 0,
                             place ? px(place->width) : 10, place ? px(place->height) : 10, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c.name))),
                             instance, nullptr);
    if (w == nullptr) return nullptr;
    if (c.kind == ControlKind::Frame) SetWindowSubclass(w, FrameProc, 1, 0);
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    if (c.kind == ControlKind::ComboBox && c.editable) {
        SetWindowSubclass(w, ComboProc, 2, self);
        if (HWND edit = FindWindowExW(w, nullptr, L"Edit", nullptr)) {
            SetWindowSubclass(edit, SetTextProc, 3, self);
        }
    }
    if (c.kind == ControlKind::TextBox && c.multiLine) SetWindowSubclass(w, SetTextProc, 3, self);
    Item item;
    item.hwnd = w;
    if (CaptionIsOurs(c.kind)) item.caption.Take(Wide(c.caption));
    item.visible.Take(c.visible);
    item.enabled.Take(true);
    // The font is left to ApplyControl: a control made without one shows
    // the system's bitmap font.
    items_[c.name] = std::move(item);
    names_[w] = c.name;
    return w;
}

void MainWindow::Build() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    design_ = engine::DesignControls();
    const std::set<std::string> later = OutOfFirstView(
        design_, engine::PlaceOf, engine::kClientWidthTwips, engine::kClientHeightTwips);
    for (std::size_t i = 0; i < design_.size(); ++i) {
        const Control& c = design_[i];
        if (c.kind == ControlKind::Timer) continue;
        if (later.count(c.name) != 0) {
            later_.push_back(i);
            continue;
        }
        MakeControl(c);
    }
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_CLIPSIBLINGS | SBARS_SIZEGRIP,
                              0, 0, 0, 0, hwnd_, nullptr, instance, nullptr);
    // Created last, it would lie under the controls that reach below the
    // client area and be painted over by them.
    SetWindowPos(status_, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    names_[status_] = {};
    // BusDesk's own: at the right end of the status bar, above it; a small
    // drawn chart, so a day's counters still fit. Its text stays its name.
    trendButton_ = CreateWindowExW(
        0, L"BUTTON", L"График", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_OWNERDRAW, 0, 0, 10,
        10, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TrendControlId("TrendButton"))),
        instance, nullptr);
    SetWindowPos(trendButton_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (options_.journal != nullptr)
        report_ = std::make_unique<ReportAction>(hwnd_, Wide(options_.journal->Path()));

    applying_ = true;
    for (const Control& c : design_) ApplyControl(c, nullptr, false, true);
    applying_ = false;
    changes_ = engine::SnapshotChanges(design_);
}

void MainWindow::BuildRest() {
    std::vector<std::size_t> later;
    later.swap(later_);
    applying_ = true;
    for (const std::size_t i : later) {
        const Control& c = design_[i];
        HWND w = MakeControl(c);
        if (w == nullptr) continue;
        // Tab order and overlap follow the window order: next to the control
        // before it in the same container, as if it had been made then.
        HWND after = HWND_TOP;
        for (std::size_t j = i; j-- > 0;) {
            if (design_[j].container != c.container) continue;
            if (HWND before = Window(design_[j].name)) {
                after = before;
                break;
            }
        }
        SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        const auto place = engine::PlaceOf(c.name);
        if (c.kind == ControlKind::ComboBox && place) SizeCombo(w, *place);
        // The model as shown now, which is still the design's unless a
        // snapshot came first.
        const Control* now = Current(c.name);
        ApplyControl(now != nullptr ? *now : c, nullptr, false, now == nullptr || *now == c);
    }
    applying_ = false;
}

// Every control, the status bar, the trend and report buttons get their tool tip,
// asked for when it is about to show.
void MainWindow::AddTips() {
    if (tipsAdded_) return;
    tipsAdded_ = true;
    // Made here too, not while the window is built: one window less before
    // the first show.
    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
    if (tips_ == nullptr) return;
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 640);
    const auto addTip = [this](HWND tool) {
        TOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(tool);
        ti.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    };
    for (const Control& c : design_) {
        if (HWND w = Window(c.name)) addTip(w);
    }
    addTip(status_);
    addTip(trendButton_);
    if (report_) addTip(report_->Button());
}

void MainWindow::Layout(bool created) {
    const auto px = [this](int twips) { return engine::TwipsToPixels(twips, dpi_); };
    // Hidden (being built) it draws nothing; shown (the DPI changed) every control redraws.
    const BOOL redraw = IsWindowVisible(hwnd_);
    // Fonts of snapshot-styled controls follow the model, not the design.
    for (const Control& c : changes_.Shown()) {
        const auto it = items_.find(c.name);
        const auto place = engine::PlaceOf(c.name);
        if (it == items_.end() || !place) continue;
        HWND w = it->second.hwnd;
        // New fonts were made for the new DPI: every control takes its own.
        // Just built, each has its font already.
        if (!created) {
            it->second.font.Forget();
            it->second.font.Take(c.font);
            SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c.font)), redraw);
        }
        if (c.kind == ControlKind::ComboBox) {
            SizeCombo(w, *place);
        } else if (!created) {
            SetWindowPos(w, nullptr, px(place->x), px(place->y), px(place->width),
                         px(place->height), SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(FontStyle::Normal)), redraw);
    SendMessageW(status_, WM_SIZE, 0, 0);
    SendMessageW(trendButton_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(FontStyle::Normal)),
                 redraw);
    RECT sr{};
    GetWindowRect(status_, &sr);
    statusHeight_ = sr.bottom - sr.top;
}

// The edit field is the control's height; the list drops below it.
void MainWindow::SizeCombo(HWND combo, const engine::TwipRect& place) {
    const auto px = [this](int twips) { return engine::TwipsToPixels(twips, dpi_); };
    const int height = px(place.height);
    const int border = GetSystemMetrics(SM_CYEDGE) * 2 + 2;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(1, height - border));
    SetWindowPos(combo, nullptr, px(place.x), px(place.y), px(place.width), height + px(2400),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND MainWindow::Window(const std::string& name) const {
    const auto it = items_.find(name);
    return it == items_.end() ? nullptr : it->second.hwnd;
}

const Control* MainWindow::Current(const std::string& name) const {
    for (const Control& c : changes_.Shown()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->hwnd_ != hwnd) {
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    return self->OnMessage(msg, wParam, lParam);
}

LRESULT MainWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kSnapshotMessage:
            ApplyLatest();
            return 0;
        case kBoxMessage:
            ShowBoxes();
            return 0;
        case kEventsMessage:
            TakeEvents();
            return 0;
        case kReportDoneMessage:
            if (report_) report_->Finish();
            return 0;
        case kTipsMessage:
            AddTips();
            return 0;
        case kRestMessage:
            BuildRest();
            return 0;
        case WM_COMMAND:
            OnCommand(reinterpret_cast<HWND>(lParam), LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_SYSCHAR: {
            MSG m{hwnd_, msg, wParam, lParam, 0, {}};
            if (TakeAccessKey(m)) return 0;
            break;
        }
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lParam);
            if (hdr->hwndFrom == tips_ && hdr->code == TTN_GETDISPINFOW) {
                auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
                tipText_ = ToolTipFor(reinterpret_cast<HWND>(hdr->idFrom));
                info->lpszText = tipText_.data();
                return 0;
            }
            break;
        }
        case WM_DRAWITEM: {
            auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            if (di->hwndItem == trendButton_ && trendButton_ != nullptr) {
                DrawTrendButton(*di);
                return TRUE;
            }
            if (di->CtlID != static_cast<UINT>(ControlId("Pic"))) break;
            const RECT r = di->rcItem;
            FillRect(di->hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
            const int d = std::min(r.right - r.left, r.bottom - r.top) - 2;
            const int x = r.left + (r.right - r.left - d) / 2;
            const int y = r.top + (r.bottom - r.top - d) / 2;
            HBRUSH fill = CreateSolidBrush(lampColour_);  // COLORREF is 0x00BBGGRR too
            HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
            HGDIOBJ oldBrush = SelectObject(di->hDC, fill);
            HGDIOBJ oldPen = SelectObject(di->hDC, pen);
            Ellipse(di->hDC, x, y, x + d, y + d);
            SelectObject(di->hDC, oldBrush);
            SelectObject(di->hDC, oldPen);
            DeleteObject(fill);
            DeleteObject(pen);
            return TRUE;
        }
        case WM_SIZE:
            SendMessageW(status_, WM_SIZE, 0, 0);
            PlaceTrendButton();
            // The room changed: fit the line again now, whatever the pace.
            ShowStatusLine();
            statusPace_.Shown(std::chrono::steady_clock::now());
            return 0;
        case WM_TIMER:
            if (wParam != kStatusTimer) break;
            KillTimer(hwnd_, kStatusTimer);
            statusTimer_ = false;
            if (statusPace_.Due(std::chrono::steady_clock::now())) {
                ShowStatusLine();
            } else if (statusPace_.Pending()) {
                PaceStatusLine();
            }
            return 0;
        case WM_DPICHANGED: {
            dpi_ = LOWORD(wParam);
            const auto* r = reinterpret_cast<const RECT*>(lParam);
            MakeFonts();
            Layout();
            SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CLOSE:
            Close();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

bool MainWindow::TakeAccessKey(const MSG& m) {
    if (m.message == WM_KEYDOWN && m.wParam == 'G' && (GetKeyState(VK_CONTROL) & 0x8000) != 0 &&
        hwnd_ != nullptr && (m.hwnd == hwnd_ || IsChild(hwnd_, m.hwnd)) && IsWindowEnabled(hwnd_)) {
        OpenTrend();
        return true;
    }
    if (m.message != WM_SYSCHAR || hwnd_ == nullptr || closing_ || !engine_) return false;
    if (m.hwnd != hwnd_ && !IsChild(hwnd_, m.hwnd)) return false;
    // Alt+Space opens the system menu.
    if (m.wParam == L' ') return false;
    // While a box is up the window is disabled and takes no keys.
    if (!IsWindowEnabled(hwnd_)) return true;
    const std::wstring key(1, static_cast<wchar_t>(m.wParam));
    engine_->PostAccessKey(Utf8(key));
    return true;
}

void MainWindow::OnCommand(HWND from, int id, int code) {
    if (from != nullptr && from == trendButton_ && code == BN_CLICKED) {
        OpenTrend();
        return;
    }
    if (report_ && from == report_->Button() && code == BN_CLICKED) {
        report_->Start();
        return;
    }
    if (from == nullptr || applying_ || closing_ || !engine_) return;
    const auto it = names_.find(from);
    if (it == names_.end() || it->second.empty()) return;
    const std::string& name = it->second;
    const Control* c = Current(name);
    if (c == nullptr || id != ControlId(name)) return;
    switch (c->kind) {
        case ControlKind::CommandButton:
        case ControlKind::CheckBox:
        case ControlKind::OptionButton:
            if (code == BN_CLICKED) changes_.NoteClick(name, engine_->PostClick(name));
            break;
        case ControlKind::TextBox:
            if (code == EN_CHANGE) OnEditText(from);
            break;
        case ControlKind::ComboBox:
            if (code == CBN_SELCHANGE) {
                const int index = static_cast<int>(SendMessageW(from, CB_GETCURSEL, 0, 0));
                changes_.NoteClick(name, engine_->PostPick(name, index));
                shownIndex_[from] = index;
            }
            break;
        default:
            break;
    }
}

// Every change of an editable combo box's edit field, typed or put in by a
// test tool or assistive technology. CBN_EDITCHANGE is not enough: a combo box
// may swallow the first change after its text was set without a change.
LRESULT CALLBACK MainWindow::ComboProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
    if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        reinterpret_cast<MainWindow*>(self)->OnComboEdit(hwnd);
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// Text put in with WM_SETTEXT (UI Automation's value pattern, test tools):
// an edit field inside a combo box and a multi-line one send no EN_CHANGE for it.
LRESULT CALLBACK MainWindow::SetTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    const LRESULT r = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (msg == WM_SETTEXT) {
        auto* window = reinterpret_cast<MainWindow*>(self);
        if (window->names_.count(hwnd) != 0) {
            window->OnEditText(hwnd);
        } else {
            window->OnComboEdit(GetParent(hwnd));
        }
    }
    return r;
}

void MainWindow::OnEditText(HWND edit) {
    if (applying_ || closing_ || !engine_) return;
    const auto name = names_.find(edit);
    if (name == names_.end()) return;
    const std::string text = Utf8(TextOf(edit));
    changes_.NoteEdit(name->second, engine_->PostText(name->second, text), text);
}

void MainWindow::OnComboEdit(HWND combo) {
    if (applying_ || closing_ || !engine_) return;
    // A pick moves the selection first and then sets the edit field; that is
    // no edit (the pick itself follows as CBN_SELCHANGE).
    const auto index = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (const auto it = shownIndex_.find(combo); it != shownIndex_.end() && it->second != index) {
        return;
    }
    const auto name = names_.find(combo);
    if (name == names_.end()) return;
    const std::string text = Utf8(TextOf(combo));
    changes_.NoteEdit(name->second, engine_->PostText(name->second, text), text);
}

// Engine thread: keep only the latest snapshot and wake the window once.
void MainWindow::Publish(engine::Snapshot snapshot) {
    std::lock_guard lock(mutex_);
    latest_ = std::move(snapshot);
    if (!snapshotPosted_ && hwnd_ != nullptr) {
        snapshotPosted_ = PostMessageW(hwnd_, kSnapshotMessage, 0, 0) != FALSE;
    }
}

// Engine thread.
void MainWindow::ShowBox(std::uint64_t id, const engine::BoxRequest& request) {
    bool posted = false;
    {
        std::lock_guard lock(mutex_);
        boxes_.push_back({id, request});
        if (hwnd_ != nullptr) posted = PostMessageW(hwnd_, kBoxMessage, 0, 0) != FALSE;
        if (!posted) boxes_.pop_back();
    }
    // No window to show it in: the box was closed.
    if (!posted) engine_->Answer(id, engine::ClosedResult(request));
}

// Engine thread: the events wait for the window, which is woken once.
void MainWindow::BusEvents(const std::vector<engine::BusEvent>& events) {
    std::lock_guard lock(mutex_);
    heard_.insert(heard_.end(), events.begin(), events.end());
    if (!eventsPosted_ && hwnd_ != nullptr)
        eventsPosted_ = PostMessageW(hwnd_, kEventsMessage, 0, 0) != FALSE;
}

void MainWindow::TakeEvents() {
    std::vector<engine::BusEvent> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(heard_);
        eventsPosted_ = false;
    }
    trendData_.Take(events);
    if (trend_) trend_->DataChanged();
}

void MainWindow::OpenTrend() {
    if (hwnd_ == nullptr || closing_) return;
    if (!trend_) {
        trend_ = std::make_unique<TrendWindow>(trendData_);
        trend_->SetDevice(selected_);
    }
    trend_->Open(hwnd_);
}

HWND MainWindow::TrendHandle() const {
    return trend_ ? trend_->Handle() : nullptr;
}

// The button keeps the right end of the bar; the bar's text part ends where it begins.
void MainWindow::PlaceTrendButton() {
    if (status_ == nullptr || trendButton_ == nullptr) return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    RECT bar{};
    GetWindowRect(status_, &bar);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&bar), 2);
    const int grip = GetSystemMetrics(SM_CXVSCROLL);
    const int h = std::max(static_cast<int>(bar.bottom - bar.top) - 4, 1);
    const int w = h + 4;
    const int x = std::max(static_cast<int>(client.right) - grip - w, 0);
    SetWindowPos(trendButton_, HWND_TOP, x, bar.top + 2, w, h, SWP_NOACTIVATE);
    const int left = report_ ? report_->Place(x, bar.top + 2, h, FontFor(FontStyle::Normal)) : x;
    const int parts[2] = {left, -1};
    SendMessageW(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

// A chart's line in the window text's colour, sunken while pressed.
void MainWindow::DrawTrendButton(const DRAWITEMSTRUCT& di) {
    RECT r = di.rcItem;
    FillRect(di.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    const bool pressed = (di.itemState & ODS_SELECTED) != 0;
    if (pressed) DrawEdge(di.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int side = std::min(w, h) - 6;
    const int x = r.left + (w - side) / 2 + (pressed ? 1 : 0);
    const int y = r.top + (h - side) / 2 + (pressed ? 1 : 0);
    const POINT line[] = {{x, y + side - 1},
                          {x + side * 35 / 100, y + side * 45 / 100},
                          {x + side * 60 / 100, y + side * 70 / 100},
                          {x + side - 1, y}};
    HPEN pen = CreatePen(PS_SOLID, std::max(1, MulDiv(3, static_cast<int>(dpi_), 192)),
                         GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(di.hDC, pen);
    Polyline(di.hDC, line, 4);
    SelectObject(di.hDC, old);
    DeleteObject(pen);
    if ((di.itemState & ODS_FOCUS) != 0) {
        InflateRect(&r, -2, -2);
        DrawFocusRect(di.hDC, &r);
    }
}

void MainWindow::ShowBoxes() {
    for (;;) {
        BoxJob job;
        {
            std::lock_guard lock(mutex_);
            if (boxes_.empty()) return;
            job = std::move(boxes_.front());
            boxes_.pop_front();
        }
        if (closing_) {
            engine_->Answer(job.id, engine::ClosedResult(job.request));
            continue;
        }
        // A snapshot published before the box may still wait in the queue,
        // and the status line may wait for its pace: the box shows beside
        // the line that says why.
        ApplyLatest();
        if (statusPace_.Pending()) {
            ShowStatusLine();
            statusPace_.Shown(std::chrono::steady_clock::now());
        }
        const BoxAnswer a = win32::ShowBox(hwnd_, job.request);
        engine_->Answer(job.id, a.result, a.text);
        if (closing_) return;
    }
}

void MainWindow::Close() {
    if (closing_) return;
    closing_ = true;
    // Answers open boxes as closed and closes an open port through BTNCloseCom_Click.
    engine_->Stop();
    {
        std::lock_guard lock(mutex_);
        boxes_.clear();
    }
    HWND w = hwnd_;
    DestroyWindow(w);
    std::lock_guard lock(mutex_);
    hwnd_ = nullptr;
}

void MainWindow::ApplyLatest() {
    engine::Snapshot s;
    {
        std::lock_guard lock(mutex_);
        if (!latest_.controls) return;
        s = std::move(latest_);
        latest_ = {};
        snapshotPosted_ = false;
    }
    Apply(s);
}

void MainWindow::Apply(const engine::Snapshot& s) {
    applying_ = true;
    changes_.Apply(s.controls, s.seq, [this](const engine::SnapshotChanges::Change& c) {
        ApplyControl(c.now, c.before, c.echo || c.typingAhead);
    });
    NoteSelectedDevice(*s.controls);
    const bool statusChanged = s.status != shown_.status;
    shown_ = s;
    if (statusChanged) PaceStatusLine();
    applying_ = false;
}

void MainWindow::ApplyControl(const Control& now, const Control* before, bool keepUserText,
                              bool made) {
    const auto item = items_.find(now.name);
    if (item == items_.end()) return;
    Item& shown = item->second;
    HWND w = shown.hwnd;
    const bool all = before == nullptr;

    if (shown.enabled.Take(now.enabled)) EnableWindow(w, now.enabled ? TRUE : FALSE);
    if (shown.visible.Take(now.visible)) ShowWindow(w, now.visible ? SW_SHOWNA : SW_HIDE);
    if (shown.font.Take(now.font)) {
        // Not yet shown, the window has nothing to redraw.
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(now.font)),
                     shownOnce_ ? TRUE : FALSE);
    }

    switch (now.kind) {
        case ControlKind::CheckBox:
        case ControlKind::OptionButton:
            // A box is made unchecked.
            if (made ? now.value != 0 : all || before->value != now.value) {
                SendMessageW(w, BM_SETCHECK, now.value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
            }
            break;
        case ControlKind::ProgressBar:
            if (all || before->minimum != now.minimum || before->maximum != now.maximum) {
                SendMessageW(w, PBM_SETRANGE32, static_cast<WPARAM>(now.minimum),
                             std::max(now.minimum, now.maximum));
                shown.position.Forget();  // the bar may have moved into the new range
            }
            if (shown.position.Take(now.value)) {
                SendMessageW(w, PBM_SETPOS,
                             static_cast<WPARAM>(std::clamp(now.value, now.minimum,
                                                            std::max(now.minimum, now.maximum))),
                             0);
            }
            return;
        case ControlKind::Shape:
            // Only a new colour repaints the lamp.
            if (lamp_.Take(now.fillColor)) {
                lampColour_ = now.fillColor;
                InvalidateRect(w, nullptr, FALSE);
            }
            return;
        default:
            break;
    }

    const bool textChanged = all || before->caption != now.caption;
    if (now.kind == ControlKind::ComboBox) {
        if (made && now.list.empty()) {
            // Made empty with nothing selected: only the edit field's text.
            shownIndex_[w] = -1;
            if (now.editable) SetWindowTextW(w, Wide(now.caption).c_str());
            return;
        }
        const bool listChanged = all || before->list != now.list;
        if (!listChanged && !textChanged && before->listIndex == now.listIndex) return;
        const std::wstring typed = TextOf(w);
        const LRESULT sel = SendMessageW(w, CB_GETEDITSEL, 0, 0);
        if (listChanged) {
            SendMessageW(w, CB_RESETCONTENT, 0, 0);
            for (const std::string& e : now.list) {
                SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(e).c_str()));
            }
        }
        SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(now.listIndex), 0);
        shownIndex_[w] = static_cast<int>(SendMessageW(w, CB_GETCURSEL, 0, 0));
        if (now.editable) {
            SetWindowTextW(w, keepUserText ? typed.c_str() : Wide(now.caption).c_str());
            if (keepUserText) SendMessageW(w, CB_SETEDITSEL, 0, sel);
        } else if (now.listIndex < 0) {
            SendMessageW(w, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(Wide(now.caption).c_str()));
        }
        return;
    }
    if (!textChanged) return;
    if (IsEditBox(now)) {
        if (keepUserText || made) return;
        const std::wstring text = now.multiLine ? CrLf(Wide(now.caption)) : Wide(now.caption);
        SetWindowTextW(w, text.c_str());
        return;
    }
    // Labels, buttons and frames; bare boxes keep their caption as window text
    // for test tools although it is cut off from view.
    const std::wstring caption = Wide(now.caption);
    if (shown.caption.Take(caption)) SetWindowTextW(w, caption.c_str());
}

// The device the trend follows: the selected entry of CmbNet, as the exchange reads it.
void MainWindow::NoteSelectedDevice(const std::vector<Control>& controls) {
    std::optional<std::uint8_t> device;
    for (const Control& c : controls) {
        if (c.name != "CmbNet") continue;
        if (c.listIndex >= 0 && static_cast<std::size_t>(c.listIndex) < c.list.size()) {
            const std::string& text = c.list[static_cast<std::size_t>(c.listIndex)];
            char* end = nullptr;
            const long a = std::strtol(text.c_str(), &end, 10);
            if (!text.empty() && end != nullptr && *end == '\0' && a >= 0 && a <= 255)
                device = static_cast<std::uint8_t>(a);
        }
        break;
    }
    if (device == selected_) return;
    selected_ = device;
    if (trend_) trend_->SetDevice(device);
}

// The counters change every tick; the bar shows them at most once a second,
// the newest at most a second late.
void MainWindow::PaceStatusLine() {
    const auto now = std::chrono::steady_clock::now();
    if (statusPace_.Changed(now)) {
        ShowStatusLine();
        return;
    }
    if (statusTimer_) return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(statusPace_.Wait(now));
    statusTimer_ = SetTimer(hwnd_, kStatusTimer,
                            static_cast<UINT>(std::max<long long>(1, wait.count())), nullptr) != 0;
}

// The fields of the status line that fit the bar, then "· …"; never a
// figure cut off. The tool tip has the whole table.
void MainWindow::ShowStatusLine() {
    if (status_ == nullptr) return;
    RECT part{};
    SendMessageW(status_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
    // The part runs under the size grip; the text keeps clear of it and of
    // the part's edges.
    const int room = static_cast<int>(part.right - part.left) - GetSystemMetrics(SM_CXVSCROLL) -
                     4 * GetSystemMetrics(SM_CXEDGE);
    HDC dc = GetDC(status_);
    HGDIOBJ old = SelectObject(dc, FontFor(FontStyle::Normal));
    const std::string fitted =
        engine::FitStatusLine(shown_.status, room, [dc](std::string_view text) {
            const std::wstring w = Wide(text);
            SIZE size{};
            GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
            return static_cast<int>(size.cx);
        });
    SelectObject(dc, old);
    ReleaseDC(status_, dc);
    std::wstring text = Wide(fitted);
    if (text == statusText_) return;
    statusText_ = std::move(text);
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(statusText_.c_str()));
}

std::wstring MainWindow::ToolTipFor(HWND tool) const {
    if (tool == status_) return Wide(shown_.statusDetail);
    if (tool != nullptr && tool == trendButton_)
        return L"График: уровень, температура и ток выбранного устройства (Ctrl+G)";
    if (report_ && tool == report_->Button()) return report_->ToolTip();
    const auto it = names_.find(tool);
    if (it == names_.end()) return {};
    const Control* c = Current(it->second);
    if (c == nullptr) return {};
    if (c->name == "CmbPort" && shown_.portInfo) {
        const auto index = static_cast<std::size_t>(SendMessageW(tool, CB_GETCURSEL, 0, 0));
        if (index < shown_.portInfo->size() && !(*shown_.portInfo)[index].empty()) {
            return Wide((*shown_.portInfo)[index]);
        }
    }
    return Wide(c->toolTip);
}

}  // namespace busdesk::win32
