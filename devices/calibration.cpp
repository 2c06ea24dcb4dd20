// Recalibrating the full and empty ends of a device's level range.
#include "app/frmSerial.h"
#include "protocol/commands.h"

namespace busdesk {

namespace {

// Asks first; a Yes replaces whatever was pending with the bare command.
void Calibrate(frmSerial& form, const char* question, std::uint8_t command) {
    if (!form.SelectedAddress()) return;
    if (form.MsgBox(question, MsgButtons::YesNo) != MsgResult::Yes) return;
    form.wrs = form.form_zaprosa({}, command);
}

}  // namespace

void frmSerial::low_Click() {
    Calibrate(*this,
              "Сейчас будет произведена перекалибровка нижнего уровня. Вы уверены что это нужно?",
              proto::kSetLowerLevel);
}

void frmSerial::hig_Click() {
    Calibrate(*this,
              "Сейчас будет произведена перекалибровка верхнего уровня. Вы уверены что это нужно?",
              proto::kSetUpperLevel);
}

}  // namespace busdesk
