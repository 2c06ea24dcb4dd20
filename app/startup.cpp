// Start-up and port control.
#include <exception>
#include <new>
#include <string>

#include "app/frmSerial.h"
#include "protocol/commands.h"

namespace busdesk {

namespace {

void HideAndClear(Control& c) {
    c.visible = false;
    c.value = 0;
}

void ResetCmbNet(Control& c) {
    c.list.clear();
    c.list.emplace_back("0");
    c.listIndex = 0;
    c.caption = "0";
}

}  // namespace

void frmSerial::Form_Load() {
    HideAndClear(iinv);
    invers.visible = false;
    HideAndClear(usredn);
    usred.visible = false;

    mode_yes = true;
    net_opr = false;
    CointWrs = 0;
    fill_id = 0;

    ResetCmbNet(CmbNet);

    try {
        CmbPort.list.clear();
        for (int i = 1; i <= 9; ++i) CmbPort.list.push_back("COM" + std::to_string(i) + ":");
        CmbPort.listIndex = 0;
        CmbPort.caption = CmbPort.list.front();
    } catch (const std::bad_alloc& e) {
        MsgBox(e.what(), MsgButtons::Ok, MsgIcon::Stop, "Error#7");
    } catch (const std::exception& e) {
        MsgBox(e.what(), MsgButtons::Ok, MsgIcon::Stop, "Error#5");
    }
}

void frmSerial::BTNOpenCom_Click() {
    // With no entry selected the shown text is the natural choice.
    const std::string name = CmbPort.SelectedEntry().value_or(CmbPort.caption);
    if (!port_.OpenPort(name, proto::kLineSettings)) {
        MsgBox(name + " Not available!");
        return;
    }
    SwitchTags();
    TMRComm.enabled = true;
    BTNOpenCom.enabled = false;
    wr_err = 0;
}

void frmSerial::BTNCloseCom_Click() {
    TMRComm.enabled = false;
    port_.ClosePort();
    CloseAllTags();
    BTNOpenCom.enabled = true;

    ResetCmbNet(CmbNet);
    sn.caption = "0";
    vv.caption = "--------";
    for (Control* c : {&tek, &temp, &uroven, &lo, &hi, &ne}) c->caption = "Нет данных";
    ProgressBar1.value = 0;
    MsgCom.caption.clear();
    netdev.caption = "Устройства не определены";
    Pic.fillColor = lamp::kClosed;
}

void frmSerial::CmbNet_Change() {
    wrs = Zapros_ser_num();
}

}  // namespace busdesk
