#pragma once

#include <cstdint>

#include "protocol/bytes.h"

namespace busdesk {

// One step of the 1-Wire CRC-8 (reflected polynomial 0x8C, initial 0, no final
// XOR), computed from the CRCs of the single-bit bytes rather than by shifting.
std::uint8_t Crc8Step(std::uint8_t data, std::uint8_t cr);

// CRC-8 over `n` bytes of `b` from the start (all of them by default).
std::uint8_t Crc8(const Bytes& b);
std::uint8_t Crc8(const Bytes& b, std::size_t n);

// Appends `byte` to `frame` and advances the running CRC over it.
void AppendWithCrc(Bytes& frame, std::uint8_t byte, std::uint8_t& cr);

}  // namespace busdesk
