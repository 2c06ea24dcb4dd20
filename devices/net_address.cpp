#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::net_Click() {}

}  // namespace busdesk
