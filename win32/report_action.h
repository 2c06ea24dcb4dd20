// "Отчёт…" of the Win32 window: the report of the journal so far, written aside and opened.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>

#include "report/report.h"

namespace busdesk::win32 {

// Posted to the window when a report has been written or has failed.
inline constexpr UINT kReportDoneMessage = WM_APP + 4;

// The button in the status bar, there only when a journal is kept: asks
// where to save, writes the report on a thread of its own (a long session
// takes seconds; the window goes on ticking), then opens it in the system's
// browser. BUSDESK_OPEN_REPORT, when set, is the command that opens it
// instead, with the file as its last argument (for tests).
class ReportAction {
  public:
    // `window` gets kReportDoneMessage; `journal` is the session's journal file.
    ReportAction(HWND window, std::wstring journal);
    // Waits for a report being written: a half-written file is worse than a late exit.
    ~ReportAction();
    ReportAction(const ReportAction&) = delete;
    ReportAction& operator=(const ReportAction&) = delete;

    HWND Button() const { return button_; }
    bool Busy() const { return busy_; }
    const wchar_t* ToolTip() const;
    // Puts the button just left of `right` in the status bar's row; its left edge.
    int Place(int right, int top, int height, HFONT font);

    // The button's press: nothing while a report is being written.
    void Start();
    // On kReportDoneMessage: opens the report, or says why there is none.
    void Finish();

    // `<journal's stem>-отчёт.html` beside the journal.
    static std::wstring ProposedPath(const std::wstring& journal);

  private:
    void SetBusy(bool busy);
    bool Open(const std::wstring& path) const;

    HWND window_;
    HWND button_ = nullptr;
    std::wstring journal_;
    bool busy_ = false;
    std::thread worker_;
    std::mutex mutex_;  // guards what the worker hands over
    report::Outcome outcome_;
    std::wstring path_;
};

}  // namespace busdesk::win32
