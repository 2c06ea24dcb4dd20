#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/chart.h"
#include "engine/trend.h"

namespace busdesk::win32 {

inline constexpr const wchar_t* kTrendClass = L"BusDeskTrend";
inline constexpr const wchar_t* kChartClass = L"BusDeskChart";

// "График — BusDesk" with GDI: the chart model painted into a memory bitmap
// and copied in one piece, so it never flickers. Closing it only hides it, so
// its size and place last while the program runs.
class TrendWindow {
  public:
    explicit TrendWindow(const engine::TrendStore& store);
    ~TrendWindow();
    TrendWindow(const TrendWindow&) = delete;
    TrendWindow& operator=(const TrendWindow&) = delete;

    // Makes it on first use, shows it and brings it forward.
    void Open(HWND owner);
    HWND Handle() const { return hwnd_; }
    void SetDevice(std::optional<std::uint8_t> address);
    // The store took new events.
    void DataChanged();
    const engine::Chart& Chart() const { return chart_; }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ChartProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnChartMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam);

    bool Create(HWND owner);
    void MakeFont();
    void Layout();
    void OnCommand(int id, int code);
    void ReadScale(std::size_t k);
    void Rebuild();
    void UpdateLatest();
    void SetPaused(bool paused);
    void PaintChart(HDC dc, int width, int height) const;
    void SaveCsv();
    void SavePng();
    std::wstring AskPath(const wchar_t* title, const wchar_t* filter, const wchar_t* ext,
                         const std::wstring& name);
    void SayFailure(const std::wstring& path);
    HWND Item(const char* name) const;

    const engine::TrendStore& store_;
    HWND hwnd_ = nullptr;
    HWND chartHwnd_ = nullptr;
    HWND intervalLabel_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bold_ = nullptr;
    UINT dpi_ = 96;
    std::optional<std::uint8_t> device_;
    std::uint64_t shownVersion_ = 0;
    bool paused_ = false;
    engine::TimeMs pausedAt_ = 0;
    int minutes_ = 5;
    std::array<engine::Scale, 3> scales_{};
    std::optional<int> cursorX_;
    bool tracking_ = false;
    engine::Chart chart_;
    std::wstring latest_;
};

}  // namespace busdesk::win32
