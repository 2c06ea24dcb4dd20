#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::Opros_Click() {}

}  // namespace busdesk
