#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::ReadParamMetki_Click() {}

}  // namespace busdesk
