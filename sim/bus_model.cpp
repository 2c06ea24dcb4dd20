#include "sim/bus_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "protocol/commands.h"
#include "protocol/crc.h"

namespace busdesk::sim {

namespace {

constexpr std::uint8_t kMaxDeviceAddress = 200;

void PutLe(Bytes& b, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutBe(Bytes& b, std::uint32_t v, int size) {
    for (int i = size - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetBe(const Bytes& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

// 3E, address, code, fields, CRC-8 over all before it.
Bytes Reply(std::uint8_t address, std::uint8_t code, const Bytes& fields = {}) {
    Bytes b;
    b.reserve(fields.size() + 4);
    b.push_back(proto::kReplyStart);
    b.push_back(address);
    b.push_back(code);
    for (std::uint8_t f : fields) b.push_back(f);
    b.push_back(Crc8(b));
    return b;
}

// Payload bytes a command needs; requests with fewer are not answered.
std::size_t PayloadNeeded(std::uint8_t command) {
    switch (command) {
        case proto::kSetMode:
        case proto::kSetNetAddress:
            return 1;
        case proto::kTagPing:
        case proto::kTagRead:
        case proto::kTagIdent:
            return 4;
        case proto::kTagSerial:
            return 8;
        case proto::kTagWrite:
            return 15;
        default:
            return 0;
    }
}

double Wave(double seconds, double period, double phase) {
    return std::sin(2.0 * std::numbers::pi * seconds / period + phase);
}

}  // namespace

BusModel::BusModel(BusConfig config)
    : readers_(std::move(config.readers)),
      tags_(std::move(config.tags)),
      drift_(config.drift),
      nextPing_(readers_.size(), 0) {
    for (const TagConfig& t : tags_) {
        std::optional<std::size_t> reader;
        for (std::size_t r = 0; r < readers_.size(); ++r) {
            if (readers_[r].address == t.reader) {
                reader = r;
                break;
            }
        }
        tagReader_.push_back(reader);
    }
}

std::optional<std::size_t> BusModel::FindReader(std::uint8_t address) const {
    for (std::size_t r = 0; r < readers_.size(); ++r) {
        if (readers_[r].present && readers_[r].address == address) return r;
    }
    return std::nullopt;
}

bool BusModel::SetPresent(std::uint8_t address, bool present) {
    bool found = false;
    for (ReaderConfig& r : readers_) {
        if (r.address == address) {
            r.present = present;
            found = true;
        }
    }
    return found;
}

std::uint32_t BusModel::CurrentAt(std::size_t reader, double seconds) const {
    const ReaderConfig& r = readers_[reader];
    if (!drift_) return r.current;
    // A few per cent of the calibrated span, slow enough to look like a level.
    const double span = std::abs(static_cast<double>(r.hi) - static_cast<double>(r.lo));
    const double swing = std::max(50.0, 0.03 * span);
    const double v = static_cast<double>(r.current) +
                     swing * Wave(seconds, 20.0 + 3.0 * static_cast<double>(reader),
                                  static_cast<double>(r.address));
    return static_cast<std::uint32_t>(std::clamp(v, 1.0, 4294967295.0));
}

std::uint16_t BusModel::LevelAt(std::size_t reader, double seconds) const {
    const ReaderConfig& r = readers_[reader];
    if (r.hi <= r.lo) return 0;  // calibration points on top of each other
    const double c = static_cast<double>(CurrentAt(reader, seconds));
    const double level = (c - r.lo) * 1023.0 / (static_cast<double>(r.hi) - r.lo);
    return static_cast<std::uint16_t>(std::lround(std::clamp(level, 0.0, 1023.0)));
}

std::int8_t BusModel::TemperatureAt(std::size_t reader, double seconds) const {
    const ReaderConfig& r = readers_[reader];
    if (!drift_) return r.temperature;
    const double t = r.temperature + 2.0 * Wave(seconds, 90.0, static_cast<double>(reader));
    return static_cast<std::int8_t>(std::lround(std::clamp(t, -128.0, 127.0)));
}

std::int8_t BusModel::TagLevelAt(std::size_t tag, double seconds) const {
    const TagConfig& t = tags_[tag];
    if (!drift_) return t.level;
    const double v = t.level + 3.0 * Wave(seconds, 7.0, static_cast<double>(tag));
    return static_cast<std::int8_t>(std::lround(std::clamp(v, -128.0, 127.0)));
}

std::vector<Answer> BusModel::Handle(const Request& q, double seconds) {
    std::vector<Answer> out;
    if (q.survey) {
        Answer a;
        a.survey = true;
        for (const ReaderConfig& r : readers_) {
            if (r.present) a.bytes.push_back(r.address);
        }
        if (!a.bytes.empty()) out.push_back(std::move(a));
        return out;
    }
    if (q.payload.size() < PayloadNeeded(q.command)) return out;
    // Every present device at the address answers; two at one address collide
    // on a real line, here their answers follow one another.
    for (std::size_t r = 0; r < readers_.size(); ++r) {
        if (readers_[r].present && readers_[r].address == q.address) {
            AnswerReader(r, q, seconds, out);
        }
    }
    return out;
}

void BusModel::AnswerReader(std::size_t r, const Request& q, double seconds,
                            std::vector<Answer>& out) {
    ReaderConfig& reader = readers_[r];
    const std::uint8_t address = reader.address;
    switch (q.command) {
        case proto::kReaderData: {
            Bytes f;
            f.push_back(static_cast<std::uint8_t>(TemperatureAt(r, seconds)));
            PutLe(f, LevelAt(r, seconds), 2);
            PutLe(f, CurrentAt(r, seconds), 4);
            PutLe(f, reader.lo, 4);
            PutLe(f, reader.hi, 4);
            PutLe(f, reader.k, 2);
            f.push_back(reader.mode);
            out.push_back({Reply(address, q.command, f)});
            return;
        }
        case proto::kSerialNumber: {
            Bytes f;
            PutLe(f, reader.serial, 4);
            f.push_back(reader.version);
            f.push_back(reader.prefix);
            out.push_back({Reply(address, q.command, f)});
            return;
        }
        case proto::kSetMode:
            reader.mode = q.payload[0];
            out.push_back({Reply(address, q.command, {reader.mode})});
            return;
        case proto::kSetUpperLevel:
            reader.hi = CurrentAt(r, seconds);
            out.push_back({Reply(address, q.command)});
            return;
        case proto::kSetLowerLevel:
            reader.lo = CurrentAt(r, seconds);
            out.push_back({Reply(address, q.command)});
            return;
        case proto::kSetNetAddress: {
            const std::uint8_t next = q.payload[0];
            if (next > kMaxDeviceAddress) return;  // not a device address: ignored
            // Confirmed from the old address; answers from the new one after.
            out.push_back({Reply(address, q.command, {next})});
            reader.address = next;
            for (std::size_t t = 0; t < tags_.size(); ++t) {
                if (tagReader_[t] == r) tags_[t].reader = next;
            }
            return;
        }
        default:
            AnswerTag(r, q, seconds, out);
            return;
    }
}

std::vector<std::size_t> BusModel::TagsInReach(std::size_t reader) const {
    std::vector<std::size_t> found;
    for (std::size_t t = 0; t < tags_.size(); ++t) {
        if (tagReader_[t] == reader) found.push_back(t);
    }
    return found;
}

std::optional<std::size_t> BusModel::TagById(std::size_t reader, std::uint32_t id) const {
    for (std::size_t t : TagsInReach(reader)) {
        if (tags_[t].id == id) return t;
    }
    return std::nullopt;
}

Bytes BusModel::TagPing(std::size_t r, std::size_t t, double seconds) const {
    const TagConfig& tag = tags_[t];
    Bytes f;
    PutBe(f, tag.serial, 4);
    PutBe(f, tag.id, 4);
    f.push_back(static_cast<std::uint8_t>(TagLevelAt(t, seconds)));
    return Reply(readers_[r].address, proto::kTagPing, f);
}

void BusModel::AnswerTag(std::size_t r, const Request& q, double seconds,
                         std::vector<Answer>& out) {
    const std::uint8_t address = readers_[r].address;
    switch (q.command) {
        case proto::kTagPing: {
            const std::uint32_t id = GetBe(q.payload, 0, 4);
            if (id == proto::kSearchId) {
                // Tags in reach take turns answering the search.
                const auto reach = TagsInReach(r);
                if (reach.empty()) return;
                const std::size_t t = reach[nextPing_[r] % reach.size()];
                nextPing_[r] = (nextPing_[r] + 1) % reach.size();
                out.push_back({TagPing(r, t, seconds)});
            } else if (const auto t = TagById(r, id)) {
                out.push_back({TagPing(r, *t, seconds)});
            }
            return;
        }
        case proto::kTagIdent:
            // The named tag makes itself known with a ping.
            if (const auto t = TagById(r, GetBe(q.payload, 0, 4))) {
                out.push_back({TagPing(r, *t, seconds)});
            }
            return;
        case proto::kTagRead: {
            const auto t = TagById(r, GetBe(q.payload, 0, 4));
            if (!t) return;
            const TagConfig& tag = tags_[*t];
            Bytes f;
            PutBe(f, tag.serial, 4);
            PutBe(f, tag.id, 4);
            PutBe(f, tag.interval, 2);
            f.push_back(tag.mode);
            f.push_back(tag.power);
            f.push_back(tag.version);
            PutBe(f, tag.sleep, 2);
            f.push_back(static_cast<std::uint8_t>(TagLevelAt(*t, seconds)));
            out.push_back({Reply(address, q.command, f)});
            return;
        }
        case proto::kTagWrite: {
            // 0E, serial, id, interval, mode, power, sleep: the tag is named by
            // its serial number and takes the rest.
            const Bytes& p = q.payload;
            const std::uint32_t serial = GetBe(p, 1, 4);
            for (std::size_t t : TagsInReach(r)) {
                TagConfig& tag = tags_[t];
                if (tag.serial != serial) continue;
                tag.id = GetBe(p, 5, 4);
                tag.interval = static_cast<std::uint16_t>(GetBe(p, 9, 2));
                tag.mode = p[11];
                tag.power = p[12];
                tag.sleep = static_cast<std::uint16_t>(GetBe(p, 13, 2));
                out.push_back({Reply(address, q.command)});
                return;
            }
            return;
        }
        case proto::kTagSerial: {
            // id, then the new serial number.
            const auto t = TagById(r, GetBe(q.payload, 0, 4));
            if (!t) return;
            tags_[*t].serial = GetBe(q.payload, 4, 4);
            out.push_back({Reply(address, q.command)});
            return;
        }
        default:
            return;  // a command this device does not know: no answer
    }
}

}  // namespace busdesk::sim
