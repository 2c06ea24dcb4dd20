#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::SetModesMetki_Click() {}

}  // namespace busdesk
