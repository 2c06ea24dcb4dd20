#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace busdesk {

// A frame or a reception: any byte value may occur anywhere, nothing is
// escaped or terminated, the length is the byte count.
using Bytes = std::vector<std::uint8_t>;

}  // namespace busdesk
