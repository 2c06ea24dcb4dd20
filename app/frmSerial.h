#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "link/serial_port.h"
#include "protocol/bytes.h"

namespace busdesk {

// Told how the exchange took each reception it handed to DecodeReply; the
// line counters listen here. Listening changes nothing the window does.
class ReceptionObserver {
  public:
    enum class Kind {
        Reply,        // framed, a code the window knows, good CRC
        BadCrc,       // framed, the last byte is not the CRC of the rest
        UnknownCode,  // framed, good CRC, a code the window does not know
        Survey,       // unframed, taken as the survey answer
        Other,        // unframed and not a survey answer
    };
    virtual ~ReceptionObserver() = default;
    virtual void Received(const Bytes& rx, Kind kind) = 0;
};

// The main window as a model: every control, every window variable, every
// handler. One object, single-threaded; its member functions are defined in
// the folder of the subsystem they belong to.
class frmSerial {
  public:
    using Handler = void (frmSerial::*)();

    // One user event of a control and the handler it reaches.
    struct EventBinding {
        std::string_view control;
        std::string_view event;
        Handler handler;
    };

    enum class Raised {
        Handled,    // the handler ran
        NoHandler,  // the control has no handler for this event
        Busy,       // another handler (or a modal box it opened) is still running
        Refused,    // the control is unknown, disabled, hidden or inside a disabled frame
    };

    frmSerial(SerialPort& port, Dialogs& dialogs);
    frmSerial(const frmSerial&) = delete;
    frmSerial& operator=(const frmSerial&) = delete;

    // ---- Events, the one way in for every front end -------------------------

    static std::span<const EventBinding> EventTable();
    static Handler FindHandler(std::string_view control, std::string_view event);

    // Runs the handler of (control, event). Handlers never nest: while one runs
    // every other event is refused with Busy.
    Raised Raise(std::string_view control, std::string_view event);
    // A tick of TMRComm; runs only while the timer is enabled and nothing else is
    // running. Returns whether the tick ran (a skipped tick is not made up later).
    bool Tick();

    // User input as a front end delivers it: the control's state changes as the
    // toolkit would change it, then the event is raised.
    Raised UserClick(std::string_view control);  // buttons, option buttons, check boxes
    Raised UserSetText(std::string_view control, const std::string& text);  // typing: "Change"
    Raised UserPick(std::string_view control, int index);  // picking from a drop-down list
    // The control whose caption has this access key (UTF-8 character, any case),
    // among the enabled ones; empty when none.
    std::string ControlForAccessKey(const std::string& key) const;

    // ---- Controls -----------------------------------------------------------

    const std::vector<Control*>& Controls() const { return controls_; }
    Control* Find(std::string_view name);
    const Control* Find(std::string_view name) const;
    // Whether the control takes user input: it and every frame around it are
    // enabled and visible.
    bool Reacts(const Control& c) const;
    std::vector<Control> Snapshot() const;

    // ---- Application shell (app/) ---------------------------------------------

    void Form_Load();
    void BTNOpenCom_Click();
    void BTNCloseCom_Click();
    void CmbNet_Change();
    void CloseAllTags();
    void SwitchTags();
    void swtag130();
    void swtag131();
    void swtag134();

    // ---- Protocol and exchange engine (protocol/) -----------------------------

    std::uint8_t crc(const std::uint8_t& data, std::uint8_t& cr);
    Bytes form_zaprosa(const Bytes& wdd, std::uint8_t numcom);
    Bytes Zapros_ser_num();
    void PrintToWin(const Bytes& wdd);
    std::string CleanStr(const Bytes& data) const;
    void TMRComm_Timer();
    void DecodeReply(const Bytes& rx, std::uint8_t c);
    void DecodeTagReply(const Bytes& rx, std::uint8_t code);

    // ---- Device operations (devices/) -----------------------------------------

    void Opros_Click();
    void net_Click();
    void InstSN_Click();
    void Set_ident_Click();
    void R_a_Click();
    void R_f_Click();
    void R_p485_Click();
    void R485_Click();
    void R_p_Click();
    void Set_mode_Click();
    void Out_modes(const std::uint8_t& nn);
    void low_Click();
    void hig_Click();

    // ---- Tag operations (tags/) -----------------------------------------------

    void CMD_zapros_metki(const std::uint32_t& SerialN, const std::uint8_t& cmdd);
    void Find_metki_Click();
    void ReadParamMetki_Click();
    void SetModesMetki_Click();

    // ---- Shared helpers -------------------------------------------------------

    // The selected entry of CmbNet as a byte; nullopt when none is selected (or,
    // never from the survey, when its text is not a number 0..255).
    std::optional<std::uint8_t> SelectedAddress() const;
    // Replaces txtRec with the request echo of `frame`.
    void ShowEcho(const Bytes& frame);
    // A message box with the application title as caption.
    MsgResult MsgBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                     MsgIcon icon = MsgIcon::None, const std::string& caption = {});
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText);

    SerialPort& port() { return port_; }

    // ---- Window variables -------------------------------------------------------

    Bytes wrs;                   // pending outgoing bytes
    std::uint8_t CointWrs = 0;   // 0: next idle poll is reader data, 1: tag poll
    std::uint8_t last_addr = 0;  // address of the last serial-number request
    std::uint8_t wr_err = 0;     // consecutive failed writes
    bool no_data = false;        // the last tick read nothing
    std::string last_msg;        // status line saved when the device fell silent
    bool net_opr = false;        // a survey answer is awaited
    bool mode_yes = true;        // the next reader data reply shows its mode
    std::uint8_t fill_id = 0;    // the next tag ping fills ID_Metki

    // Not a window variable: who is told how receptions were taken (may be null).
    ReceptionObserver* receptionObserver = nullptr;

    // ---- The controls, in the window's order --------------------------------------

    // Port selection and link
    Control CmbPort, Frame2, BTNOpenCom, BTNCloseCom, Pic, TMRComm;
    // Selected device
    Control Label5, sn, Label4, CmbNet, Label3, netdev, ver2, vv, MsgCom, ProgressBar1, Opros,
        Find_metki;
    // Frame5: current readings
    Control Frame5, ur, uroven, te, temp, tek_l, tek;
    // Frame4: settings of the selected device
    Control Frame4, l, lo, h, hi, n, ne, k, ko;
    // Frame3: device commands
    Control Frame3, net, low, hig;
    // modes: reader modes. The label beside R_p485 is named "цццц".
    Control modes, R_a, R_analog, R_f, R_fr, R_p485, label_metka, R485, R_485, R_p, Label2, usredn,
        usred, iinv, invers, Set_mode;
    // Frame6: tag parameters
    Control Frame6, Label14, SerNumMetki, Label15, outID, Label9, ID_Metki, Label6, ModeMetki,
        Label21, sleep_time, Label7, IntervalMetki, Label8, PowerMetki, Label20, UrPr, Label18,
        outVer, ReadParamMetki, SetModesMetki;
    // Service and diagnostic controls
    Control Set_ident, InstSN, Frame1, txtRec, Label1, CmdBoxText, num_bytes, Label12, textOutCmd,
        Label13, OutKolBytes, Label16, outTime, Label17, outMode, Label19, outPower, outSN, Label10,
        Label11;

  private:
    void BuildControls();
    Raised Dispatch(std::string_view control, std::string_view event, bool fromUser);

    SerialPort& port_;
    Dialogs& dialogs_;
    std::vector<Control*> controls_;
    bool busy_ = false;
};

}  // namespace busdesk
