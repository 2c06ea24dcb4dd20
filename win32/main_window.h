#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/engine.h"
#include "engine/geometry.h"
#include "engine/snapshot_changes.h"
#include "engine/trend.h"
#include "win32/paint_pace.h"

namespace busdesk::win32 {

class ReportAction;
class TrendWindow;

// Posted to the window when the engine has a new snapshot or a box for it.
inline constexpr UINT kSnapshotMessage = WM_APP + 1;
inline constexpr UINT kBoxMessage = WM_APP + 2;
// Posted when the engine has decoded bus events for the trend.
inline constexpr UINT kEventsMessage = WM_APP + 3;
// Posted once the window is shown: the controls' tool tips go in then.
inline constexpr UINT kTipsMessage = WM_APP + 10;
// Posted once the window is shown: the controls out of its first view go in then.
inline constexpr UINT kRestMessage = WM_APP + 11;
// The window's class, for test tools that look for it.
inline constexpr const wchar_t* kWindowClass = L"BusDeskWindow";

// The native window: one Win32 control per control of the model, placed in
// twips scaled by the window's DPI. It paints the engine's snapshots and
// forwards the user's input; the logic runs on the engine thread.
class MainWindow : private engine::FrontEnd {
  public:
    explicit MainWindow(engine::PortFactory factory, engine::Engine::Options options = {});
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Makes the window and starts the engine; false when the window cannot be made.
    bool Create(int show);
    HWND Handle() const { return hwnd_; }
    // Alt+key from the message loop, whichever control has the focus; and
    // Ctrl+G, which opens the trend.
    bool TakeAccessKey(const MSG& msg);
    // The trend of the selected device: the status bar's button or Ctrl+G.
    void OpenTrend();
    // Null until the trend was first opened.
    HWND TrendHandle() const;

  private:
    // What the control was last given; the user cannot change any of it.
    struct Item {
        HWND hwnd = nullptr;
        LastSet<std::wstring> caption;  // labels, buttons and frames only
        LastSet<bool> enabled;
        LastSet<bool> visible;
        LastSet<FontStyle> font;
        LastSet<int> position;  // a progress bar's
    };
    struct BoxJob {
        std::uint64_t id;
        engine::BoxRequest request;
    };

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ComboProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR self);
    static LRESULT CALLBACK SetTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR self);
    void OnComboEdit(HWND combo);
    void OnEditText(HWND edit);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    // Engine thread.
    void Publish(engine::Snapshot snapshot) override;
    void ShowBox(std::uint64_t id, const engine::BoxRequest& request) override;
    void BusEvents(const std::vector<engine::BusEvent>& events) override;
    void TakeEvents();
    void PlaceTrendButton();
    void DrawTrendButton(const DRAWITEMSTRUCT& di);
    void NoteSelectedDevice(const std::vector<Control>& controls);

    void Build();
    // The control's window, made at its place and visible if it is; null if it could not be made.
    HWND MakeControl(const Control& c);
    // The controls left out of the first view, in the window order.
    void BuildRest();
    void SizeCombo(HWND combo, const engine::TwipRect& place);
    void MakeFonts();
    // `created`: the controls were just made at their places (only the
    // combo boxes still need sizing once their item height is set).
    void Layout(bool created = false);
    void OnCommand(HWND from, int id, int code);
    void ApplyLatest();
    void Apply(const engine::Snapshot& s);
    // `made`: the control was just made with the design's caption and nothing
    // set yet (not for one whose text the user may have changed).
    void ApplyControl(const Control& now, const Control* before, bool keepUserText,
                      bool made = false);
    void ShowBoxes();
    void Close();
    HWND Window(const std::string& name) const;
    const Control* Current(const std::string& name) const;
    HFONT FontFor(FontStyle style) const;
    std::wstring ToolTipFor(HWND tool) const;
    void AddTips();
    void ShowStatusLine();
    void PaceStatusLine();

    engine::PortFactory factory_;
    engine::Engine::Options options_;
    std::unique_ptr<engine::Engine> engine_;
    HWND hwnd_ = nullptr;
    HWND status_ = nullptr;
    HWND tips_ = nullptr;
    UINT dpi_ = 96;
    std::vector<Control> design_;
    std::vector<std::size_t> later_;  // indexes into design_ made after the first show
    std::map<std::string, Item, std::less<>> items_;
    std::map<HWND, std::string> names_;
    std::map<HWND, int> shownIndex_;  // combo entry last shown as the model's selection
    HFONT fonts_[4] = {};
    LastSet<std::uint32_t> lamp_;
    std::uint32_t lampColour_ = 0;
    std::wstring statusText_;  // as last put in the bar
    Pace statusPace_{std::chrono::seconds(1)};
    bool statusTimer_ = false;
    bool applying_ = false;
    bool shownOnce_ = false;  // shown at least once: changes redraw
    bool tipsAdded_ = false;
    bool closing_ = false;
    int statusHeight_ = 0;

    engine::SnapshotChanges changes_;
    engine::Snapshot shown_;  // last applied: status and port information
    std::wstring tipText_;

    std::mutex mutex_;  // guards what the engine thread hands over
    engine::Snapshot latest_;
    bool snapshotPosted_ = false;
    std::deque<BoxJob> boxes_;
    std::vector<engine::BusEvent> heard_;  // guarded by mutex_
    bool eventsPosted_ = false;

    // Kept from the start, so the trend opened later shows what came before.
    engine::TrendStore trendData_;
    std::unique_ptr<TrendWindow> trend_;
    HWND trendButton_ = nullptr;
    std::optional<std::uint8_t> selected_;
    // "Отчёт…": null unless a journal is kept. Last, so it is gone first.
    std::unique_ptr<ReportAction> report_;
};

}  // namespace busdesk::win32
