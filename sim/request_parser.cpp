#include "sim/request_parser.h"

#include <algorithm>

#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk::sim {

namespace {

// The only parameter block a tag parameter write carries.
constexpr std::uint8_t kTagBlockLength = 14;

}  // namespace

std::optional<std::size_t> FrameLength(std::span<const std::uint8_t> head) {
    if (head.empty()) return 0;
    if (head[0] != proto::kRequestStart) return std::nullopt;
    if (head.size() < 2) return 0;
    if (head[1] == proto::kSurveyAddress) return 3;
    if (head.size() < 3) return 0;
    switch (head[2]) {
        case proto::kReaderData:
        case proto::kSerialNumber:
        case proto::kSetUpperLevel:
        case proto::kSetLowerLevel:
            return 4;
        case proto::kSetMode:
        case proto::kSetNetAddress:
            return 5;
        case proto::kTagPing:
        case proto::kTagRead:
        case proto::kTagIdent:
            return 8;
        case proto::kTagSerial:
            return 12;
        case proto::kTagWrite:
            // A length byte tells how many parameter bytes follow; devices know
            // one block only, and waiting for a longer one would stall the line.
            if (head.size() < 4) return 0;
            if (head[3] != kTagBlockLength) return std::nullopt;
            return std::size_t{4} + kTagBlockLength + 1;
        default:
            return std::nullopt;
    }
}

std::vector<Request> RequestParser::Feed(const std::uint8_t* data, std::size_t size) {
    std::vector<Request> out;
    if (size > 0) buffer_.insert(buffer_.end(), data, data + size);
    std::size_t at = 0;
    while (at < buffer_.size()) {
        const auto length = FrameLength(
            std::span(buffer_).subspan(at, std::min<std::size_t>(4, buffer_.size() - at)));
        if (!length) {
            ++at;
            ++counts_.droppedBytes;
            continue;
        }
        if (*length == 0 || buffer_.size() - at < *length) break;  // wait for more
        std::uint8_t cr = 0;
        for (std::size_t i = 0; i + 1 < *length; ++i) cr = Crc8Step(buffer_[at + i], cr);
        if (cr != buffer_[at + *length - 1]) {
            ++counts_.badCrc;
            ++counts_.droppedBytes;
            ++at;
            continue;
        }
        Request r;
        r.address = buffer_[at + 1];
        r.survey = r.address == proto::kSurveyAddress;
        if (!r.survey) {
            r.command = buffer_[at + 2];
            r.payload.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(at + 3),
                             buffer_.begin() + static_cast<std::ptrdiff_t>(at + *length - 1));
        }
        out.push_back(std::move(r));
        ++counts_.frames;
        at += *length;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
    return out;
}

void RequestParser::Idle() {
    counts_.droppedBytes += buffer_.size();
    buffer_.clear();
}

}  // namespace busdesk::sim
