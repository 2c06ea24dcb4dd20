#pragma once

#include <array>
#include <string_view>

namespace busdesk::win32 {

// Control IDs are stable: 1000 + the control's place in the window's order
// (the model's order of controls). Test tools and UI Automation (AutomationId)
// find a control by them, so never reorder or reuse an entry; the README
// lists the table.
inline constexpr int kFirstControlId = 1000;

inline constexpr std::array<std::string_view, 95> kControlOrder = {
    "CmbPort",
    "Frame2",
    "BTNOpenCom",
    "BTNCloseCom",
    "Pic",
    "TMRComm",
    "Label5",
    "sn",
    "Label4",
    "CmbNet",
    "Label3",
    "netdev",
    "ver2",
    "vv",
    "MsgCom",
    "ProgressBar1",
    "Opros",
    "Find_metki",
    "Frame5",
    "ur",
    "uroven",
    "te",
    "temp",
    "tek_l",
    "tek",
    "Frame4",
    "l",
    "lo",
    "h",
    "hi",
    "n",
    "ne",
    "k",
    "ko",
    "Frame3",
    "net",
    "low",
    "hig",
    "modes",
    "R_a",
    "R_analog",
    "R_f",
    "R_fr",
    "R_p485",
    "цццц",
    "R485",
    "R_485",
    "R_p",
    "Label2",
    "usredn",
    "usred",
    "iinv",
    "invers",
    "Set_mode",
    "Frame6",
    "Label14",
    "SerNumMetki",
    "Label15",
    "outID",
    "Label9",
    "ID_Metki",
    "Label6",
    "ModeMetki",
    "Label21",
    "sleep_time",
    "Label7",
    "IntervalMetki",
    "Label8",
    "PowerMetki",
    "Label20",
    "UrPr",
    "Label18",
    "outVer",
    "ReadParamMetki",
    "SetModesMetki",
    "Set_ident",
    "InstSN",
    "Frame1",
    "txtRec",
    "Label1",
    "CmdBoxText",
    "num_bytes",
    "Label12",
    "textOutCmd",
    "Label13",
    "OutKolBytes",
    "Label16",
    "outTime",
    "Label17",
    "outMode",
    "Label19",
    "outPower",
    "outSN",
    "Label10",
    "Label11",
};

// The ID of a control, or 0 for a name not in the table.
constexpr int ControlId(std::string_view name) {
    for (std::size_t i = 0; i < kControlOrder.size(); ++i) {
        if (kControlOrder[i] == name) return kFirstControlId + static_cast<int>(i);
    }
    return 0;
}

// BusDesk's own controls, beside the model's: the status bar's trend button,
// the trend window's controls and the status bar's report button, 2000 +
// their place here. The same rule: append, never reorder.
inline constexpr int kFirstTrendId = 2000;

inline constexpr std::array<std::string_view, 19> kTrendControls = {
    "TrendButton",
    "TrendDevice",
    "TrendInterval",
    "TrendPause",
    "TrendCsv",
    "TrendPng",
    "TrendAutoLevel",
    "TrendFromLevel",
    "TrendToLevel",
    "TrendAutoTemperature",
    "TrendFromTemperature",
    "TrendToTemperature",
    "TrendAutoCurrent",
    "TrendFromCurrent",
    "TrendToCurrent",
    "TrendChart",
    "TrendLatest",
    "TrendReadout",
    "ReportButton",
};

// The ID of one of BusDesk's own controls, or 0.
constexpr int TrendControlId(std::string_view name) {
    for (std::size_t i = 0; i < kTrendControls.size(); ++i) {
        if (kTrendControls[i] == name) return kFirstTrendId + static_cast<int>(i);
    }
    return 0;
}

}  // namespace busdesk::win32
