#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::R_a_Click() {}
void frmSerial::R_f_Click() {}
void frmSerial::R_p485_Click() {}
void frmSerial::R485_Click() {}
void frmSerial::R_p_Click() {}
void frmSerial::Set_mode_Click() {}
void frmSerial::Out_modes(const std::uint8_t&) {}

}  // namespace busdesk
