#include "protocol/crc.h"

#include <array>

namespace busdesk {

std::uint8_t Crc8Step(std::uint8_t data, std::uint8_t cr) {
    // CRC-8/MAXIM of 0x01, 0x02, ... 0x80: the step is linear in data ^ cr.
    static constexpr std::array<std::uint8_t, 8> kBit = {0x5E, 0xBC, 0x61, 0xC2,
                                                         0x9D, 0x23, 0x46, 0x8C};
    const unsigned f = data ^ cr;
    std::uint8_t next = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((f >> bit) & 1U) next = static_cast<std::uint8_t>(next ^ kBit[bit]);
    }
    return next;
}

std::uint8_t Crc8(const Bytes& b, std::size_t n) {
    std::uint8_t cr = 0;
    for (std::size_t i = 0; i < n && i < b.size(); ++i) cr = Crc8Step(b[i], cr);
    return cr;
}

std::uint8_t Crc8(const Bytes& b) {
    return Crc8(b, b.size());
}

void AppendWithCrc(Bytes& frame, std::uint8_t byte, std::uint8_t& cr) {
    frame.push_back(byte);
    cr = Crc8Step(byte, cr);
}

}  // namespace busdesk
