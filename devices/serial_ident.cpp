#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::InstSN_Click() {}
void frmSerial::Set_ident_Click() {}

}  // namespace busdesk
