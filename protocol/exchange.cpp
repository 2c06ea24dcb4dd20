#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::TMRComm_Timer() {}

}  // namespace busdesk
