#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/bus_event.h"
#include "protocol/bytes.h"

// What the line counters and the journal need to know about frames, from the
// bytes alone: where each request of a write ends, what a code means, which
// requests change a device and which reply confirms one.
namespace busdesk::engine {

// Where the request frame that starts at `at` of a write ends. A write may
// hold several (a command appended to a pending one); an unknown command
// takes the rest.
std::size_t RequestEnd(const Bytes& written, std::size_t at);
// The request frames of one write, in order.
std::vector<Bytes> SplitRequests(const Bytes& written);

bool IsSurveyRequest(std::span<const std::uint8_t> frame);
// A framed reply: start byte, address, code, at least a CRC.
bool IsFramedReply(const Bytes& rx);
bool CrcGood(const Bytes& frame);

// The meaning of a request's or a reply's code, in Russian; empty when unknown.
std::string RequestMeaning(const Bytes& frame);
std::string ReplyMeaning(std::uint8_t code);

// Requests that change a device: the survey, address, mode, calibration, tag
// parameters, tag serial number and identifier.
bool ChangesDevice(std::span<const std::uint8_t> frame);
// Whether `rx`, a reception that followed, holds the device's confirmation
// of the changing request `frame`: a reply with its code and a good CRC, or
// for the survey an answer the window takes as one.
bool Confirms(const Bytes& frame, const Bytes& rx);

// What a reception says; `surveyDue` when the request before it was the survey.
Decoded DecodeReception(const Bytes& rx, bool surveyDue);

// The JSON key of a changing request ("address", "mode", ...), its values as
// the members of a JSON object, and a line for people.
struct CommandText {
    std::string what;
    std::string values;
    std::string text;
};
CommandText DescribeCommand(const Bytes& frame);

// "31 01 F0 5D": every byte with two digits.
std::string Hex2(const Bytes& bytes);

}  // namespace busdesk::engine
