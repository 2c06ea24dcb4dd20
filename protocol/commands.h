#pragma once

#include <cstdint>

// Bytes of the bus protocol that more than one place needs.
namespace busdesk::proto {

inline constexpr std::uint8_t kRequestStart = 0x31;
inline constexpr std::uint8_t kReplyStart = 0x3E;
inline constexpr std::uint8_t kSurveyAddress = 0xFF;

// Reader commands; a reply carries the code of the request it answers.
inline constexpr std::uint8_t kReaderData = 0xF0;
inline constexpr std::uint8_t kSerialNumber = 0xFC;
inline constexpr std::uint8_t kSetMode = 0xF2;
inline constexpr std::uint8_t kSetUpperLevel = 0xF5;
inline constexpr std::uint8_t kSetLowerLevel = 0xFA;
inline constexpr std::uint8_t kSetNetAddress = 0xFB;

// The mode byte: a role in the low bits and two flags.
inline constexpr std::uint8_t kModeRoleMask = 0x3F;
inline constexpr std::uint8_t kModeFrequency = 0x40;
inline constexpr std::uint8_t kModeMaster = 0x80;
// Role values as the devices number them.
inline constexpr std::uint8_t kRoleBridge = 0;
inline constexpr std::uint8_t kRoleReaderIndicator = 1;
inline constexpr std::uint8_t kRoleReader = 2;
inline constexpr std::uint8_t kRoleRepeater = 6;
inline constexpr std::uint8_t kRoleTag = 16;

// Tag commands, relayed by the addressed reader.
inline constexpr std::uint8_t kTagPing = 0xE0;
inline constexpr std::uint8_t kTagWrite = 0xE1;
inline constexpr std::uint8_t kTagSerial = 0xE2;
inline constexpr std::uint8_t kTagRead = 0xE3;
inline constexpr std::uint8_t kTagIdent = 0xE4;

// The identifier every tag answers to when searched for.
inline constexpr std::uint32_t kSearchId = 0x7A7A7A7A;

// Fixed line settings of the bus.
inline constexpr const char* kLineSettings = "19200,n,8,1";

}  // namespace busdesk::proto
