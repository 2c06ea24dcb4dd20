#include "app/frmSerial.h"

namespace busdesk {

void frmSerial::DecodeTagReply(const Bytes&, std::uint8_t) {}

}  // namespace busdesk
