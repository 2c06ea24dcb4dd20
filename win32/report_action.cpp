// "Отчёт…" of the Win32 window: the report of the journal so far, written aside and opened.
#include "win32/report_action.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "app/messages.h"
#include "win32/boxes.h"
#include "win32/control_ids.h"
#include "win32/save_dialog.h"
#include "win32/text.h"

namespace busdesk::win32 {

namespace {

constexpr const wchar_t* kCaption = L"Отчёт…";
constexpr const wchar_t* kBusyCaption = L"Отчёт пишется…";
constexpr const wchar_t* kTip =
    L"Отчёт о работе по журналу: устройства, изменения, линия и графики в одном HTML-файле; "
    L"откроется в браузере";

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return path;
    full.resize(got);
    return full;
}

std::wstring Environment(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(got < n ? got : 0);
    return value;
}

}  // namespace

ReportAction::ReportAction(HWND window, std::wstring journal)
    : window_(window), journal_(std::move(journal)) {
    button_ = CreateWindowExW(
        0, L"BUTTON", kCaption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_PUSHBUTTON, 0, 0, 10,
        10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TrendControlId("ReportButton"))),
        GetModuleHandleW(nullptr), nullptr);
    // Above the status bar it sits on, as the trend's button.
    SetWindowPos(button_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

ReportAction::~ReportAction() {
    if (worker_.joinable()) worker_.join();
}

const wchar_t* ReportAction::ToolTip() const {
    return busy_ ? kBusyCaption : kTip;
}

int ReportAction::Place(int right, int top, int height, HFONT font) {
    if (reinterpret_cast<HFONT>(SendMessageW(button_, WM_GETFONT, 0, 0)) != font)
        SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    // As wide as the longer caption, so the bar does not shift while it works.
    int text = 0;
    HDC dc = GetDC(button_);
    HGDIOBJ old = SelectObject(dc, font);
    for (const wchar_t* caption : {kCaption, kBusyCaption}) {
        SIZE size{};
        GetTextExtentPoint32W(dc, caption, static_cast<int>(std::wcslen(caption)), &size);
        text = std::max(text, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(button_, dc);
    const int width = text + height;  // half the height of room on either side
    const int left = std::max(right - width, 0);
    SetWindowPos(button_, HWND_TOP, left, top, width, height, SWP_NOACTIVATE);
    return left;
}

std::wstring ReportAction::ProposedPath(const std::wstring& journal) {
    const std::wstring full = FullPath(journal);
    const std::size_t slash = full.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : full.substr(0, slash + 1);
    std::wstring stem = slash == std::wstring::npos ? full : full.substr(slash + 1);
    const std::size_t dot = stem.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) stem.resize(dot);
    return folder + stem + L"-отчёт.html";
}

void ReportAction::Start() {
    if (busy_) return;
    // The last report's worker has handed its outcome over and is ending, if not gone.
    if (worker_.joinable()) worker_.join();
    const std::wstring proposed = ProposedPath(journal_);
    const std::size_t slash = proposed.find_last_of(L"\\/");
    const std::wstring path =
        AskSavePath(window_, L"Сохранить отчёт", L"HTML\0*.html;*.htm\0", L"html",
                    proposed.substr(slash + 1), proposed.substr(0, slash + 1));
    if (path.empty() || busy_) return;
    report::Request request;
    request.journals = {Utf8(journal_)};
    request.output = Utf8(path);
    SetBusy(true);
    // The journal's writer puts each tick's events out as they come, without
    // being asked; what the last moments brought may still be on its way and
    // be left out (a line torn at the end is counted as skipped).
    worker_ = std::thread([this, request = std::move(request), path] {
        report::Outcome outcome = report::WriteReport(request);
        {
            std::lock_guard lock(mutex_);
            outcome_ = std::move(outcome);
            path_ = path;
        }
        // Fails harmlessly when the window is gone.
        PostMessageW(window_, kReportDoneMessage, 0, 0);
    });
}

void ReportAction::Finish() {
    if (!busy_) return;
    if (worker_.joinable()) worker_.join();
    report::Outcome outcome;
    std::wstring path;
    {
        std::lock_guard lock(mutex_);
        outcome = outcome_;
        path = path_;
    }
    SetBusy(false);
    if (!IsWindowVisible(window_)) return;
    const std::wstring caption = Wide(msg::kAppTitle);
    if (!outcome.ok) {
        const std::wstring why =
            outcome.error.empty() ? std::wstring(L"причина неизвестна") : Wide(outcome.error);
        RussianMessageBox(window_, L"Отчёт не записан: " + why, caption, MB_OK | MB_ICONWARNING);
        return;
    }
    std::wstring text = L"Отчёт записан: " + path;
    if (outcome.skipped > 0)
        text += L"; пропущено строк журнала: " + std::to_wstring(outcome.skipped);
    if (!Open(path)) text += L"; открыть его в браузере не удалось";
    RussianMessageBox(window_, text, caption, MB_OK | MB_ICONINFORMATION);
}

void ReportAction::SetBusy(bool busy) {
    busy_ = busy;
    EnableWindow(button_, busy ? FALSE : TRUE);
    SetWindowTextW(button_, busy ? kBusyCaption : kCaption);
}

bool ReportAction::Open(const std::wstring& path) const {
    const std::wstring command = Environment(L"BUSDESK_OPEN_REPORT");
    if (!command.empty()) {
        std::wstring line = command + L" \"" + path + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return false;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return true;
    }
    // The file's own association: the browser the user chose for HTML.
    const auto done = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window_, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return done > 32;
}

}  // namespace busdesk::win32
