#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::low_Click() {}
void frmSerial::hig_Click() {}

}  // namespace busdesk
