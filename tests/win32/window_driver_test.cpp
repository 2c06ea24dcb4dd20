// Drives the real busdesk.exe through window messages, as a test tool or
// assistive technology would, against the simulated bus on a serial line.
//
//   window_driver_test BUSDESK_EXE BUS_PORT BUS_LOG REPLY_PORT DEAD_PORT
//   window_driver_test BUSDESK_EXE --layout DPI
//   window_driver_test BUSDESK_EXE --report DIR
//
// BUS_PORT is a line with busdesk-sim behind it, BUS_LOG the file its traffic
// log goes to; REPLY_PORT answers every request with a reply code nobody
// knows; DEAD_PORT cannot be opened. --report runs the window on its demo bus
// with a journal in DIR and has it write the report there. Exits non-zero
// when a check fails.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/geometry.h"
#include "win32/control_ids.h"

namespace {

using busdesk::win32::ControlId;
using namespace std::chrono_literals;

int g_failures = 0;

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

void Say(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

#define CHECK(cond, what)                                                                         \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            ++g_failures;                                                                         \
            Say("  FAILED: " + std::string(what) + " (line " + std::to_string(__LINE__) + ")\n"); \
        }                                                                                         \
    } while (0)

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

std::string Text(HWND w) {
    DWORD_PTR n = 0;
    if (w == nullptr || !SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &n))
        return {};
    // The text may grow between the two messages (a counter going from 9 to
    // 10): a buffer filled to the brim may hold a cut text, so ask again
    // with more room.
    for (std::size_t room = n + 64;; room *= 2) {
        std::wstring buf(room, L'\0');
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                                 SMTO_ABORTIFHUNG, 5000, &got))
            return {};
        if (got + 1 < buf.size() || room > 65536) {
            buf.resize(got);
            return Utf8(buf);
        }
    }
}

LRESULT Send(HWND w, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    DWORD_PTR r = 0;
    SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &r);
    return static_cast<LRESULT>(r);
}

std::wstring ClassOf(HWND w) {
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    return cls;
}

// One running busdesk.exe.
struct Instance {
    PROCESS_INFORMATION pi{};
    HWND main = nullptr;

    bool Start(const std::wstring& exe, const std::wstring& args = {}) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
        if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi))
            return false;
        // Shown, and Form_Load has filled the port list.
        return WaitFor([this] {
            main = TopLevel(L"BusDeskWindow");
            return main != nullptr && Send(Control("CmbPort"), CB_GETCOUNT) == 9;
        });
    }

    // A visible top-level window of this process with this class.
    HWND TopLevel(const wchar_t* cls) const {
        struct Find {
            DWORD pid;
            const wchar_t* cls;
            HWND found;
        } f{pi.dwProcessId, cls, nullptr};
        EnumWindows(
            [](HWND w, LPARAM lp) -> BOOL {
                auto* find = reinterpret_cast<Find*>(lp);
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid != find->pid || !IsWindowVisible(w) || ClassOf(w) != find->cls) return TRUE;
                find->found = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&f));
        return f.found;
    }

    // Controls inside frames are the frames' children; look through them all.
    HWND Control(const char* name) const {
        struct Find {
            int id;
            HWND found;
        } f{ControlId(name), nullptr};
        EnumChildWindows(
            main,
            [](HWND w, LPARAM lp) -> BOOL {
                auto* find = reinterpret_cast<Find*>(lp);
                if (GetDlgCtrlID(w) != find->id) return TRUE;
                find->found = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&f));
        return f.found;
    }

    std::string TextOf(const char* name) const { return Text(Control(name)); }

    void Click(const char* name) const { Send(Control(name), BM_CLICK); }

    // What the window does when the user picks an entry from the list.
    void Pick(const char* name, int index) const {
        HWND combo = Control(name);
        Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index));
        Send(GetParent(combo), WM_COMMAND,
             MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(combo)), CBN_SELCHANGE),
             reinterpret_cast<LPARAM>(combo));
    }

    int PickPort(const std::string& port) const {
        HWND combo = Control("CmbPort");
        const auto index = static_cast<int>(Send(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                 reinterpret_cast<LPARAM>(Wide(port).c_str())));
        if (index < 0) return index;
        Pick("CmbPort", index);
        // The model took the pick when the window shows it back.
        return WaitFor([&] { return TextOf("CmbPort") == port; }) ? index : -1;
    }

    void AccessKey(wchar_t key) const { PostMessageW(main, WM_SYSCHAR, key, 1 << 29); }

    HWND Box(std::chrono::milliseconds limit = 10s) const {
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = TopLevel(L"#32770")) != nullptr; }, limit)) {
            Say("  no box; windows of the process:");
            EnumWindows(
                [](HWND w, LPARAM lp) -> BOOL {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(w, &pid);
                    if (pid == static_cast<DWORD>(lp))
                        Say(" " + Utf8(ClassOf(w)) + (IsWindowVisible(w) ? "(shown)" : ""));
                    return TRUE;
                },
                static_cast<LPARAM>(pi.dwProcessId));
            Say("\n");
        }
        return box;
    }

    bool Close() {
        PostMessageW(main, WM_CLOSE, 0, 0);
        return Exited();
    }

    bool Exited(DWORD ms = 10000) const {
        return pi.hProcess != nullptr && WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0;
    }

    DWORD ExitCode() const {
        DWORD code = 259;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    ~Instance() {
        if (pi.hProcess != nullptr) {
            if (!Exited(0)) TerminateProcess(pi.hProcess, 99);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

// The message of a message box: its static text.
std::string BoxText(HWND box) {
    return Text(GetDlgItem(box, 0xFFFF));
}

// Presses a button of a box, once its caption is checked.
void Press(HWND box, int id, const char* caption) {
    HWND b = GetDlgItem(box, id);
    CHECK(b != nullptr, std::string("box has the button ") + caption);
    CHECK(Text(b) == caption, "button reads " + std::string(caption) + ", not " + Text(b));
    PostMessageW(b, BM_CLICK, 0, 0);
    WaitFor([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5s);
}

// The simulated bus's traffic log, read from where it was last read.
class BusLog {
  public:
    explicit BusLog(std::wstring path) : path_(std::move(path)) {}
    std::string All() const {
        std::ifstream in(path_.c_str(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Mark() { from_ = All().size(); }
    std::string Since() const {
        const std::string all = All();
        return from_ < all.size() ? all.substr(from_) : std::string();
    }
    bool Saw(const std::string& line) const { return Since().find(line) != std::string::npos; }

  private:
    std::wstring path_;
    std::size_t from_ = 0;
};

// With BUSDESK_LINGER_MS set the driver holds still at the moments worth a
// screenshot, and says so, for the script that takes them.
void Linger(const char* moment) {
    wchar_t buf[16] = {};
    if (GetEnvironmentVariableW(L"BUSDESK_LINGER_MS", buf, 16) == 0) return;
    Say(std::string("linger ") + moment + "\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(_wtoi(buf)));
}

bool InsideClient(const Instance& app, HWND w, const RECT& client) {
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, app.main, reinterpret_cast<POINT*>(&r), 2);
    return r.left >= client.left && r.top >= client.top && r.right <= client.right &&
           r.bottom <= client.bottom;
}

// Enabled with every frame around it, and shown.
bool Reacts(const Instance& app, HWND w) {
    for (HWND p = w; p != nullptr && p != app.main; p = GetParent(p)) {
        if (!IsWindowEnabled(p)) return false;
    }
    return IsWindowVisible(w) != FALSE;
}

bool TakesInput(HWND w) {
    const std::wstring cls = ClassOf(w);
    if (cls == L"Edit" || cls == L"EDIT" || cls == L"ComboBox" || cls == L"COMBOBOX") return true;
    if (cls != L"Button" && cls != L"BUTTON") return false;
    return (GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX;
}

void StartState(const Instance& app, UINT expectedDpi = 96) {
    const UINT dpi = GetDpiForWindow(app.main);
    Say("start state at " + std::to_string(dpi) + " DPI\n");
    CHECK(dpi == expectedDpi, "the window runs at " + std::to_string(expectedDpi) + " DPI");
    CHECK(Text(app.main) == "BusDesk", "title");
    const auto px = [dpi](int twips) { return busdesk::engine::TwipsToPixels(twips, dpi); };
    RECT client{};
    GetClientRect(app.main, &client);
    HWND status = FindWindowExW(app.main, nullptr, L"msctls_statusbar32", nullptr);
    CHECK(status != nullptr, "status bar");
    RECT sr{};
    GetWindowRect(status, &sr);
    // The client area above the status bar is the window's initial area.
    const int wide = px(busdesk::engine::kClientWidthTwips);
    const int high = px(busdesk::engine::kClientHeightTwips);
    CHECK(client.right == wide && client.bottom - (sr.bottom - sr.top) == high,
          "client area " + std::to_string(wide) + " x " + std::to_string(high) +
              " above the status bar, got " + std::to_string(client.right) + " x " +
              std::to_string(client.bottom - (sr.bottom - sr.top)));
    client.bottom -= sr.bottom - sr.top;
    // The bar lies over whatever reaches below the client area ("Commands and
    // Results", the service controls), and they keep out of its way.
    // Only the bar's own button, the trend's, lies above it.
    HWND top = GetWindow(app.main, GW_CHILD);
    if (top == GetDlgItem(app.main, busdesk::win32::TrendControlId("TrendButton")))
        top = GetWindow(top, GW_HWNDNEXT);
    CHECK(top == status, "status bar on top of the controls");
    std::string under;
    MapWindowPoints(nullptr, app.main, reinterpret_cast<POINT*>(&sr), 2);
    for (HWND c = GetWindow(status, GW_HWNDNEXT); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, app.main, reinterpret_cast<POINT*>(&r), 2);
        RECT both{};
        if (IntersectRect(&both, &r, &sr) && (GetWindowLongW(c, GWL_STYLE) & WS_CLIPSIBLINGS) == 0)
            under += std::to_string(GetDlgCtrlID(c)) + " ";
    }
    CHECK(under.empty(), "drawn over the status bar: " + under);

    // Every control where the model puts it, in its frame, at the window's DPI.
    std::string misplaced;
    for (std::string_view name : busdesk::win32::kControlOrder) {
        const std::string n(name);
        HWND w = app.Control(n.c_str());
        const auto place = busdesk::engine::PlaceOf(n);
        if (w == nullptr || !place) continue;
        RECT r{};
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
        const bool combo = ClassOf(w) == L"ComboBox";  // its height is the edit field's
        if (r.left != px(place->x) || r.top != px(place->y) ||
            r.right - r.left != px(place->width) ||
            (!combo && r.bottom - r.top != px(place->height)))
            misplaced += n + " ";
    }
    CHECK(misplaced.empty(),
          "at " + std::to_string(static_cast<int>(dpi)) + " DPI misplaced: " + misplaced);

    std::string reacting;
    for (std::string_view name : busdesk::win32::kControlOrder) {
        const std::string n(name);
        HWND w = app.Control(n.c_str());
        if (n == "TMRComm") continue;
        CHECK(w != nullptr, "control " + n + " found by its ID");
        if (w == nullptr) continue;
        if (TakesInput(w) && InsideClient(app, w, client) && Reacts(app, w)) reacting += n + " ";
    }
    CHECK(reacting == "CmbPort BTNOpenCom ", "only the port controls react, not: " + reacting);

    // Among its siblings each control lies in the window order, which is the
    // tab order, also those made after the first show.
    std::string outOfOrder;
    for (std::string_view name : busdesk::win32::kControlOrder) {
        const std::string n(name);
        HWND w = app.Control(n.c_str());
        if (w == nullptr) continue;
        for (HWND next = GetWindow(w, GW_HWNDNEXT); next != nullptr;
             next = GetWindow(next, GW_HWNDNEXT)) {
            const int id = GetDlgCtrlID(next);
            if (id >= busdesk::win32::kFirstControlId && id < GetDlgCtrlID(w)) {
                outOfOrder += n + " ";
                break;
            }
        }
    }
    CHECK(outOfOrder.empty(), "before a control that comes earlier: " + outOfOrder);
    CHECK(app.TextOf("CmbPort") == "COM1:", "CmbPort shows COM1:");
    CHECK(Send(app.Control("CmbPort"), CB_GETCOUNT) == 9, "nine ports");
    CHECK(app.TextOf("CmbNet") == "0", "CmbNet reads 0");
    CHECK(app.TextOf("netdev") == "Устройства не определены", "netdev");
    CHECK(app.TextOf("low") == "Уст&ановить  Пустой", "window text is the caption");
    CHECK(app.TextOf("R_a") == "Option1", "bare option box keeps its caption");
    CHECK(!IsWindowVisible(app.Control("iinv")) && !IsWindowVisible(app.Control("usredn")),
          "mode check boxes hidden");
    CHECK(Send(app.Control("ProgressBar1"), PBM_GETRANGE, FALSE) == 1024, "bar 0..1024");
    {
        // The tool tips go in just after the window appears: every control,
        // the status bar and the trend button have one.
        struct Find {
            HWND owner;
            HWND tips;
        } find{app.main, nullptr};
        EnumWindows(
            [](HWND w, LPARAM lp) -> BOOL {
                auto* f = reinterpret_cast<Find*>(lp);
                if (GetWindow(w, GW_OWNER) != f->owner || ClassOf(w) != L"tooltips_class32")
                    return TRUE;
                f->tips = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&find));
        const LRESULT expected = static_cast<LRESULT>(busdesk::win32::kControlOrder.size()) - 1 + 2;
        CHECK(find.tips != nullptr &&
                  WaitFor([&] { return Send(find.tips, TTM_GETTOOLCOUNT) == expected; }),
              "tool tips: " + std::to_string(find.tips ? Send(find.tips, TTM_GETTOOLCOUNT) : -1) +
                  " of " + std::to_string(expected));
    }
    RECT frame{};
    RECT hig{};
    GetWindowRect(app.Control("Frame3"), &frame);
    GetWindowRect(app.Control("hig"), &hig);
    CHECK(hig.left >= frame.right - 2 && GetParent(app.Control("hig")) == app.Control("Frame3"),
          "hig lies in Frame3, beyond its right edge");
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The save dialog's file name field: cmb13, under Wine 8 a ComboBoxEx32 whose
// WM_GETTEXT and WM_SETTEXT reach the edit field inside; edt1 in dialogs of
// the older kind.
HWND FileNameField(HWND dialog) {
    HWND combo = GetDlgItem(dialog, 0x47c);
    return combo != nullptr ? combo : GetDlgItem(dialog, 0x480);
}

// "Отчёт…": only with a journal; the save dialog proposes a name beside the
// journal, the report of the demo session is written there and opened (by
// this program's --note-opened, which BUSDESK_OPEN_REPORT names).
int RunReport(const std::wstring& exe, const std::wstring& dir) {
    using busdesk::win32::TrendControlId;
    const int id = TrendControlId("ReportButton");
    Say("report: without a journal there is no button\n");
    {
        Instance plain;
        if (!plain.Start(exe, L"--demo")) {
            Say("busdesk.exe did not show its window\n");
            return 1;
        }
        CHECK(GetDlgItem(plain.main, TrendControlId("TrendButton")) != nullptr, "trend button");
        CHECK(GetDlgItem(plain.main, id) == nullptr, "no report button");
        CHECK(plain.Close(), "busdesk.exe ends");
    }

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring opened = dir + L"\\opened.txt";
    const std::wstring out = dir + L"\\отчёт смены.html";
    DeleteFileW(opened.c_str());
    DeleteFileW(out.c_str());
    const std::wstring opener =
        L"\"" + std::wstring(self) + L"\" --note-opened \"" + opened + L"\"";
    SetEnvironmentVariableW(L"BUSDESK_OPEN_REPORT", opener.c_str());

    Say("report: with a journal the button is in the status bar\n");
    Instance app;
    if (!app.Start(exe, L"--demo --journal \"" + dir + L"\\day.jsonl\"")) {
        Say("busdesk.exe did not show its window\n");
        return 1;
    }
    HWND button = GetDlgItem(app.main, id);
    HWND trend = GetDlgItem(app.main, TrendControlId("TrendButton"));
    HWND bar = FindWindowExW(app.main, nullptr, L"msctls_statusbar32", nullptr);
    CHECK(button != nullptr && Text(button) == "Отчёт…", "the report button: " + Text(button));
    CHECK(IsWindowVisible(button) && IsWindowEnabled(button), "shown and enabled");
    RECT b{};
    RECT t{};
    RECT s{};
    GetWindowRect(button, &b);
    GetWindowRect(trend, &t);
    GetWindowRect(bar, &s);
    CHECK(b.right <= t.left && b.left > s.left, "left of the trend's button");
    CHECK(b.top >= s.top && b.bottom <= s.bottom, "within the status bar's height");

    Say("report: a session on the demo bus\n");
    CHECK(app.PickPort("COM1:") >= 0, "the demo bus is COM1:");
    app.Click("BTNOpenCom");
    CHECK(WaitFor([&] { return IsWindowEnabled(app.Control("BTNCloseCom")) != FALSE; }),
          "port open");
    app.Click("Opros");
    CHECK(WaitFor([&] { return app.TextOf("sn") != "0" && !app.TextOf("sn").empty(); }, 20s),
          "a serial number shown");
    const std::string serial = app.TextOf("sn");

    Say("report: the save dialog, then the report\n");
    // The dialog is modal inside the press: posted, a sent click would wait for it.
    PostMessageW(button, BM_CLICK, 0, 0);
    HWND dialog = app.Box();
    CHECK(dialog != nullptr && Text(dialog) == "Сохранить отчёт", "save dialog: " + Text(dialog));
    if (dialog == nullptr) return 1;
    HWND name = FileNameField(dialog);
    CHECK(Text(name) == "day-отчёт.html", "proposed name: " + Text(name));
    Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(out.c_str()));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    HWND said = nullptr;
    CHECK(WaitFor(
              [&] {
                  said = app.TopLevel(L"#32770");
                  return said != nullptr && BoxText(said).rfind("Отчёт", 0) == 0;
              },
              30s),
          "a box says how it went");
    const std::string text = BoxText(said);
    CHECK(text.rfind("Отчёт записан: " + Utf8(out), 0) == 0, "written: " + text);
    Press(said, IDOK, "ОК");
    CHECK(GetFileAttributesW(out.c_str()) != INVALID_FILE_ATTRIBUTES,
          "the report is where it was asked for: " + Utf8(out));
    CHECK(ReadAll(out).find(serial) != std::string::npos, "the report holds " + serial);
    CHECK(WaitFor([&] { return ReadAll(opened).find(Utf8(out)) != std::string::npos; }),
          "the report was opened: " + ReadAll(opened));
    CHECK(IsWindowEnabled(button) && Text(button) == "Отчёт…", "the button free again");
    CHECK(app.Close(), "busdesk.exe ends");
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // --note-opened FILE PATH: BUSDESK_OPEN_REPORT's stand-in for the browser.
    if (argc == 4 && std::wstring(argv[1]) == L"--note-opened") {
        std::ofstream note(argv[2], std::ios::binary | std::ios::app);
        note << Utf8(argv[3]) << "\n";
        return note ? 0 : 1;
    }
    if (argc == 4 && std::wstring(argv[2]) == L"--report") return RunReport(argv[1], argv[3]);
    // --layout DPI: only the start state, at the DPI Wine was set to.
    if (argc == 4 && std::wstring(argv[2]) == L"--layout") {
        Instance app;
        if (!app.Start(argv[1])) {
            Say("busdesk.exe did not show its window\n");
            return 1;
        }
        StartState(app, static_cast<UINT>(_wtoi(argv[3])));
        CHECK(app.Close(), "busdesk.exe ends");
        return g_failures == 0 ? 0 : 1;
    }
    if (argc != 6) {
        Say("usage: window_driver_test BUSDESK_EXE BUS_PORT BUS_LOG REPLY_PORT DEAD_PORT\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const std::string busPort = Utf8(argv[2]);
    BusLog log(argv[3]);
    const std::string replyPort = Utf8(argv[4]);
    const std::string deadPort = Utf8(argv[5]);

    Instance app;
    if (!app.Start(exe)) {
        Say("busdesk.exe did not show its window\n");
        return 1;
    }
    StartState(app);

    Say("a click on a disabled button does nothing\n");
    log.Mark();
    app.Click("Opros");
    std::this_thread::sleep_for(700ms);
    CHECK(log.Since().empty(), "nothing on the bus: " + log.Since());

    Say("open\n");
    CHECK(app.PickPort(busPort) >= 0, "the bus port is in the list");
    app.Click("BTNOpenCom");
    CHECK(WaitFor([&] { return IsWindowEnabled(app.Control("BTNCloseCom")) != FALSE; }),
          "close button enabled");
    CHECK(!IsWindowEnabled(app.Control("BTNOpenCom")), "open button disabled");
    CHECK(WaitFor([&] { return log.Saw("rx 31 00 F0"); }), "polls on the bus");

    Say("survey\n");
    app.Click("Opros");
    CHECK(WaitFor([&] { return Send(app.Control("CmbNet"), CB_GETCOUNT) == 3; }, 15s),
          "survey fills CmbNet");
    std::string entries;
    for (int i = 0; i < 3; ++i) {
        wchar_t buf[32] = {};
        Send(app.Control("CmbNet"), CB_GETLBTEXT, static_cast<WPARAM>(i),
             reinterpret_cast<LPARAM>(buf));
        entries += Utf8(buf) + " ";
    }
    CHECK(entries == "1 5 7 ", "CmbNet entries: " + entries);
    const std::string netdev = app.TextOf("netdev");
    CHECK(netdev.find('5') != std::string::npos && netdev.find('7') != std::string::npos,
          "netdev lists the devices: " + netdev);
    CHECK(WaitFor([&] { return app.TextOf("sn").find("100123") != std::string::npos; }),
          "serial number shown: " + app.TextOf("sn"));
    CHECK(WaitFor([&] { return app.TextOf("vv") == "1.3.4."; }),
          "version shown: " + app.TextOf("vv"));
    Linger("survey");

    Say("the status bar: its counters, written at most once a second\n");
    {
        // Polling goes on, two requests a second; the bar's text is read back
        // through WM_GETTEXT every 50 ms for some 4.5 s. Written once a tick
        // it changes about twice a second; paced, once a second at most.
        HWND bar = FindWindowExW(app.main, nullptr, L"msctls_statusbar32", nullptr);
        std::string last = Text(bar);
        int changes = 0;
        const auto from = std::chrono::steady_clock::now();
        for (int i = 0; i < 90; ++i) {
            std::this_thread::sleep_for(50ms);
            const std::string now = Text(bar);
            if (now != last) ++changes;
            last = now;
        }
        const auto took = std::chrono::steady_clock::now() - from;
        const auto most = std::chrono::duration_cast<std::chrono::seconds>(took).count() + 1;
        CHECK(changes >= 1, "the status bar follows the line: '" + last + "'");
        CHECK(changes <= most, "the status bar was written " + std::to_string(changes) +
                                   " times in " + std::to_string(most - 1) + "+ s: '" + last + "'");
    }

    Say("CmbNet: typing in its edit field reaches the model, a pick selects\n");
    log.Mark();
    HWND netEdit = FindWindowExW(app.Control("CmbNet"), nullptr, L"Edit", nullptr);
    CHECK(netEdit != nullptr, "CmbNet has an edit field");
    Send(netEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"5"));
    CHECK(WaitFor([&] { return log.Saw("rx 31 05 FC"); }), "serial number asked of 5");
    app.Pick("CmbNet", 0);
    CHECK(WaitFor([&] { return app.TextOf("CmbNet") == "1"; }), "1 picked");
    CHECK(WaitFor([&] { return log.Saw("rx 31 01 FC"); }), "serial number asked of 1");

    Say("the trend: its button opens it, it follows the readings, pause keeps the picture\n");
    {
        using busdesk::win32::TrendControlId;
        HWND button = GetDlgItem(app.main, TrendControlId("TrendButton"));
        CHECK(button != nullptr && Text(button) == "График", "the status bar's button");
        Send(button, BM_CLICK);
        HWND trend = nullptr;
        CHECK(WaitFor([&] {
                  trend = FindWindowW(L"BusDeskTrend", nullptr);
                  return trend != nullptr && IsWindowVisible(trend) != FALSE;
              }),
              "the trend window shows");
        CHECK(Text(trend) == "График — BusDesk", "its title: " + Text(trend));
        HWND chart = GetDlgItem(trend, TrendControlId("TrendChart"));
        HWND device = GetDlgItem(trend, TrendControlId("TrendDevice"));
        CHECK(Text(device) == "Устройство 1", "follows device 1: " + Text(device));
        CHECK(WaitFor([&] { return Text(chart).rfind("Уровень ", 0) == 0; }),
              "the chart names the latest values: " + Text(chart));
        // The latest values carry their time: new readings change them.
        const std::string first = Text(chart);
        CHECK(WaitFor([&] { return Text(chart) != first; }), "new readings reach it");
        HWND pause = GetDlgItem(trend, TrendControlId("TrendPause"));
        Send(pause, BM_CLICK);
        CHECK(WaitFor([&] { return Text(pause) == "&Продолжить"; }), "paused: " + Text(pause));
        Linger("trend");
        Send(pause, BM_CLICK);
        CHECK(WaitFor([&] { return Text(pause) == "&Пауза"; }), "running again");
        // Closed, it is only hidden; the button brings the same window back.
        Send(trend, WM_CLOSE);
        CHECK(WaitFor([&] { return IsWindowVisible(trend) == FALSE; }), "closing hides it");
        Send(button, BM_CLICK);
        CHECK(WaitFor([&] { return IsWindowVisible(trend) != FALSE; }), "opened again");
        CHECK(FindWindowW(L"BusDeskTrend", nullptr) == trend, "the same window");
    }

    Say("net: out of range, then in range\n");
    app.Click("net");
    HWND box = app.Box();
    CHECK(box != nullptr, "input box shown");
    CHECK(Text(box) == "Ввод сетевого номера", "input box title: " + Text(box));
    CHECK(Text(GetDlgItem(box, 100)) == "Введите новый сетевой номер", "prompt");
    CHECK(Text(GetDlgItem(box, 101)) == "1", "default is the selected device");
    CHECK(Text(GetDlgItem(box, IDCANCEL)) == "Отмена", "Отмена button");
    Send(GetDlgItem(box, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"201"));
    log.Mark();
    Press(box, IDOK, "ОК");
    box = app.Box();
    CHECK(box != nullptr && BoxText(box) == "Введите число в диапазоне 0....200",
          "range box: " + BoxText(box));
    Press(box, IDOK, "ОК");
    std::this_thread::sleep_for(1200ms);
    CHECK(!log.Saw(" FB "), "nothing sent for 201");

    app.Click("net");
    box = app.Box();
    CHECK(box != nullptr, "input box again");
    Send(GetDlgItem(box, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"42"));
    // Enter answers the box as ОК does.
    PostMessageW(GetDlgItem(box, 101), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(GetDlgItem(box, 101), WM_KEYUP, VK_RETURN, 0xC0000001);
    CHECK(WaitFor([&] { return log.Saw("rx 31 01 FB 2A"); }), "31 01 FB 2A crc on the bus");

    Say("Alt+Й and Alt+й reach the clipped hig\n");
    const char* question =
        "Сейчас будет произведена перекалибровка верхнего уровня. Вы уверены что это нужно?";
    log.Mark();
    app.AccessKey(L'Й');
    box = app.Box();
    CHECK(box != nullptr && BoxText(box) == question, "question box: " + BoxText(box));
    Press(box, IDNO, "Нет");
    std::this_thread::sleep_for(1200ms);
    CHECK(!log.Saw(" F5"), "Нет sends nothing");
    app.AccessKey(L'й');
    box = app.Box();
    CHECK(box != nullptr && BoxText(box) == question, "question box for й");
    CHECK(Text(GetDlgItem(box, IDYES)) == "Да", "Да button");
    Linger("question");
    Press(box, IDYES, "Да");
    CHECK(WaitFor([&] { return log.Saw("rx 31 01 F5"); }), "Да sends 31 01 F5 crc");

    Say("a second instance, refused a line that cannot be opened: both boxes\n");
    {
        Instance second;
        CHECK(second.Start(exe), "second window shows");
        CHECK(second.main != app.main, "its own window");
        CHECK(second.PickPort(deadPort) >= 0, "dead port in the list");
        second.Click("BTNOpenCom");
        box = second.Box();
        CHECK(box != nullptr &&
                  BoxText(box) == "Com Port " + deadPort + " недоступен. Установите нужный порт.",
              "first box: " + BoxText(box));
        Press(box, IDOK, "ОК");
        box = second.Box();
        CHECK(box != nullptr && BoxText(box) == deadPort + " Not available!",
              "second box: " + BoxText(box));
        Press(box, IDOK, "ОК");
        // Beside the boxes, which stay as they are: why, in the status bar.
        HWND bar = FindWindowExW(second.main, nullptr, L"msctls_statusbar32", nullptr);
        const std::string why = "Порт не открыт: нет такого устройства " + deadPort;
        CHECK(WaitFor([&] { return Text(bar).rfind(why, 0) == 0; }),
              "status bar says why: '" + Text(bar) + "'");
        std::this_thread::sleep_for(600ms);
        CHECK(IsWindowEnabled(second.Control("BTNOpenCom")) &&
                  !IsWindowEnabled(second.Control("BTNCloseCom")),
              "still closed");
        CHECK(second.Close(), "second instance ends");
    }

    Say("closing with the port open\n");
    CHECK(app.Close(), "busdesk.exe ends");
    CHECK(app.ExitCode() == 0, "exit code " + std::to_string(app.ExitCode()));
    log.Mark();
    std::this_thread::sleep_for(1200ms);
    CHECK(log.Since().empty(), "the bus is quiet: " + log.Since());

    Say("the fallback box shows with the status line already set\n");
    {
        Instance odd;
        CHECK(odd.Start(exe), "window shows");
        CHECK(odd.PickPort(replyPort) >= 0, "reply port in the list");
        odd.Click("BTNOpenCom");
        box = odd.Box();
        CHECK(box != nullptr && BoxText(box) == "Пришла какая-то фигня",
              "fallback box: " + BoxText(box));
        CHECK(odd.TextOf("MsgCom") == " Непонятно что пришло! ",
              "status line while the box is open: '" + odd.TextOf("MsgCom") + "'");
        // Closing while a box is open answers it and ends.
        CHECK(odd.Close(), "ends with a box open");
    }

    Say(g_failures == 0 ? "all checks passed\n"
                        : std::to_string(g_failures) + " check(s) failed\n");
    return g_failures == 0 ? 0 : 1;
}
