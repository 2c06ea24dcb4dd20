#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::DecodeReply(const Bytes&, std::uint8_t) {}

}  // namespace busdesk
