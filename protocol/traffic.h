#pragma once

#include <string>

#include "protocol/bytes.h"

namespace busdesk {

// Readable form of received or sent bytes: "]" and "[" as <ACK> and <NAK>, CR
// and LF named, other bytes below '0' as "@", the rest as Windows-1251 text.
std::string CleanText(const Bytes& data);

// The two-part echo of a queued request: hex values each followed by a blank,
// two line breaks, then the readable form.
std::string RequestEcho(const Bytes& frame);

}  // namespace busdesk
