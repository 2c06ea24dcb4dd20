#include "engine/line_frames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "protocol/commands.h"
#include "protocol/crc.h"
#include "protocol/replies.h"

namespace busdesk::engine {

namespace {

constexpr std::size_t kHeader = 3;  // start, address, command

struct Code {
    std::uint8_t code;
    int payload;  // request payload bytes; -1: not a request the tool sends
    const char* request;
    const char* reply;
};

// The reply texts of the codes the window decodes; the rest are unknown to it.
constexpr Code kCodes[] = {
    {proto::kReaderData, 0, "запрос данных считывателя", "данные считывателя"},
    {proto::kSerialNumber, 0, "запрос серийного номера", "серийный номер и версия"},
    {proto::kSetMode, 1, "установка режима", "режим установлен"},
    {proto::kSetUpperLevel, 0, "калибровка верхнего уровня", "верхний уровень установлен"},
    {proto::kSetLowerLevel, 0, "калибровка нижнего уровня", "нижний уровень установлен"},
    {proto::kSetNetAddress, 1, "смена сетевого номера", "сетевой номер установлен"},
    {proto::kTagPing, 4, "поиск метки", "ответ метки"},
    {proto::kTagWrite, 15, "запись параметров метки", "параметры метки записаны"},
    {proto::kTagSerial, 8, "установка серийного номера метки", nullptr},
    {proto::kTagRead, 4, "чтение параметров метки", "параметры метки"},
    {proto::kTagIdent, 4, "запрос ID метки", nullptr},
    {0xF8, -1, nullptr, "установлено усреднение"},
    {0xF3, -1, nullptr, "снято усреднение"},
    {0xF6, -1, nullptr, "серийный номер установлен"},
    {0xFD, -1, nullptr, "инверсия изменена"},
};

const Code* Find(std::uint8_t code) {
    for (const Code& c : kCodes) {
        if (c.code == code) return &c;
    }
    return nullptr;
}

std::uint32_t Be(const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::string Id8(std::uint32_t v) {
    std::array<char, 9> buf{};
    std::snprintf(buf.data(), buf.size(), "%08X", v);
    return buf.data();
}

}  // namespace

std::string Hex2(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += kDigits[b >> 4];
        s += kDigits[b & 0xF];
    }
    return s;
}

bool IsSurveyRequest(std::span<const std::uint8_t> frame) {
    return frame.size() == kHeader && frame[0] == proto::kRequestStart &&
           frame[1] == proto::kSurveyAddress;
}

bool IsFramedReply(const Bytes& rx) {
    return rx.size() >= 4 && rx[0] == proto::kReplyStart;
}

bool CrcGood(const Bytes& frame) {
    return !frame.empty() && Crc8(frame, frame.size() - 1) == frame.back();
}

std::size_t RequestEnd(const Bytes& written, std::size_t at) {
    std::size_t size = written.size() - at;
    if (size >= 2 && written[at] == proto::kRequestStart &&
        written[at + 1] == proto::kSurveyAddress) {
        size = std::min(size, kHeader);
    } else if (size > kHeader && written[at] == proto::kRequestStart) {
        const Code* c = Find(written[at + 2]);
        if (c != nullptr && c->payload >= 0)
            size = std::min(size, kHeader + static_cast<std::size_t>(c->payload) + 1);
    }
    return at + size;
}

std::vector<Bytes> SplitRequests(const Bytes& written) {
    std::vector<Bytes> frames;
    for (std::size_t at = 0, end; at < written.size(); at = end) {
        end = RequestEnd(written, at);
        frames.emplace_back(written.begin() + static_cast<std::ptrdiff_t>(at),
                            written.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return frames;
}

std::string RequestMeaning(const Bytes& frame) {
    if (IsSurveyRequest(frame)) return "опрос сети";
    if (frame.size() <= kHeader) return {};
    const Code* c = Find(frame[2]);
    return c != nullptr && c->request != nullptr ? c->request : "";
}

std::string ReplyMeaning(std::uint8_t code) {
    const Code* c = Find(code);
    return c != nullptr && c->reply != nullptr ? c->reply : "";
}

bool ChangesDevice(std::span<const std::uint8_t> frame) {
    if (IsSurveyRequest(frame)) return true;
    if (frame.size() <= kHeader || frame[0] != proto::kRequestStart) return false;
    switch (frame[2]) {
        case proto::kSetMode:
        case proto::kSetUpperLevel:
        case proto::kSetLowerLevel:
        case proto::kSetNetAddress:
        case proto::kTagWrite:
        case proto::kTagSerial:
        case proto::kTagIdent:
            return true;
        default:
            return false;
    }
}

bool Confirms(const Bytes& frame, const Bytes& rx) {
    if (rx.empty()) return false;
    // The same test as the window's: a longer list is not a survey answer.
    if (IsSurveyRequest(frame)) return proto::ParseSurveyAnswer(rx, true).has_value();
    if (frame.size() <= kHeader) return false;
    // The named tag answers the identifier request with a ping; a ping of any
    // other tag the reader hears meanwhile confirms nothing.
    const bool ident = frame[2] == proto::kTagIdent;
    const std::uint8_t code = ident ? proto::kTagPing : frame[2];
    constexpr std::size_t kAskedId = 3;  // the identifier in the request
    constexpr std::size_t kPingId = 7;   // and in the ping
    if (ident && frame.size() < kAskedId + 4) return false;
    // The reply may follow another one in the same reception, when the
    // command went out behind a pending request: look for it anywhere.
    for (std::size_t i = 0; i + kHeader < rx.size(); ++i) {
        if (rx[i] != proto::kReplyStart || rx[i + 2] != code) continue;
        if (ident && (i + kPingId + 4 > rx.size() ||
                      !std::equal(frame.begin() + kAskedId, frame.begin() + kAskedId + 4,
                                  rx.begin() + static_cast<std::ptrdiff_t>(i + kPingId))))
            continue;
        std::uint8_t cr = 0;
        for (std::size_t j = i; j < rx.size(); ++j) {
            if (j >= i + kHeader && cr == rx[j]) return true;
            cr = Crc8Step(rx[j], cr);
        }
    }
    return false;
}

Decoded DecodeReception(const Bytes& rx, bool surveyDue) {
    using What = Decoded::What;
    Decoded r;
    if (rx.empty()) return r;
    if (!proto::IsFramed(rx)) {
        if (auto addresses = proto::ParseSurveyAnswer(rx, surveyDue)) {
            r.what = What::Survey;
            r.addresses = std::move(*addresses);
        } else {
            r.what = What::Other;
        }
        return r;
    }
    r.address = rx[1];
    r.code = rx[2];
    r.crcGood = CrcGood(rx);
    switch (r.code) {
        case proto::kReaderData:
            r.what = What::Reading;
            // The window drops a reading whose CRC does not match.
            if (r.crcGood) r.reading = proto::ParseReaderData(rx);
            break;
        case proto::kSerialNumber:
            r.what = What::Serial;
            r.serial = proto::ParseSerialNumber(rx);
            break;
        case proto::kSetMode:
            r.what = What::Mode;
            r.mode = proto::ParseModeConfirmation(rx);
            break;
        case proto::kTagPing:
            r.what = What::TagPing;
            r.tag = proto::ParseTagPing(rx);
            break;
        case proto::kTagRead:
            r.what = What::TagData;
            r.tag = proto::ParseTagData(rx);
            break;
        case proto::kTagWrite:
            r.what = What::TagWritten;
            break;
        default:
            r.what = ReplyMeaning(r.code).empty() ? What::Unknown : What::Confirmation;
            break;
    }
    return r;
}

CommandText DescribeCommand(const Bytes& frame) {
    if (IsSurveyRequest(frame)) return {"survey", "", "Опрос сети"};
    if (frame.size() <= kHeader) return {"unknown", "", "?"};
    const std::string addr = std::to_string(frame[1]);
    const std::size_t p = kHeader;  // first payload byte
    const auto has = [&frame, p](std::size_t n) { return frame.size() >= p + n + 1; };
    switch (frame[2]) {
        case proto::kSetNetAddress:
            if (!has(1)) break;
            return {"address", "\"new_address\":" + std::to_string(frame[p]),
                    "Смена сетевого номера " + addr + " на " + std::to_string(frame[p])};
        case proto::kSetMode:
            if (!has(1)) break;
            return {"mode", "\"mode\":" + std::to_string(frame[p]),
                    "Установка режима " + std::to_string(frame[p]) + " устройству " + addr};
        case proto::kSetLowerLevel:
            return {"calibrate_low", "", "Калибровка нижнего уровня устройства " + addr};
        case proto::kSetUpperLevel:
            return {"calibrate_high", "", "Калибровка верхнего уровня устройства " + addr};
        case proto::kTagWrite: {
            if (!has(15)) break;
            const std::string serial = std::to_string(Be(frame, p + 1, 4));
            return {"tag_params",
                    "\"serial\":" + serial + ",\"id\":\"" + Id8(Be(frame, p + 5, 4)) +
                        "\",\"interval\":" + std::to_string(Be(frame, p + 9, 2)) +
                        ",\"mode\":" + std::to_string(frame[p + 11]) +
                        ",\"power\":" + std::to_string(frame[p + 12]) +
                        ",\"sleep\":" + std::to_string(Be(frame, p + 13, 2)),
                    "Запись параметров метки " + serial + " через считыватель " + addr};
        }
        case proto::kTagSerial: {
            if (!has(8)) break;
            const std::string id = Id8(Be(frame, p, 4));
            const std::string serial = std::to_string(Be(frame, p + 4, 4));
            return {"tag_serial", "\"id\":\"" + id + "\",\"serial\":" + serial,
                    "Серийный номер " + serial + " метке " + id};
        }
        case proto::kTagIdent: {
            if (!has(4)) break;
            const std::string id = Id8(Be(frame, p, 4));
            return {"tag_ident", "\"id\":\"" + id + "\"", "Запрос ID метки " + id};
        }
        default:
            break;
    }
    return {"unknown", "", RequestMeaning(frame)};
}

}  // namespace busdesk::engine
