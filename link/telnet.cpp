#include "link/telnet.h"

#include <string>
#include <utility>

namespace busdesk::telnet {

Bytes Escape(const Bytes& data) {
    Bytes out;
    out.reserve(data.size() + 8);
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
    return out;
}

Bytes SubNegotiation(std::uint8_t option, const Bytes& payload) {
    Bytes out{kIac, kSb, option};
    const Bytes escaped = Escape(payload);
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

Bytes ComPortMessage(std::uint8_t command, const Bytes& value) {
    Bytes payload{command};
    payload.insert(payload.end(), value.begin(), value.end());
    return SubNegotiation(kComPort, payload);
}

Bytes ComPortByte(ComCommand command, std::uint8_t value, bool fromServer) {
    const auto c = static_cast<std::uint8_t>(static_cast<std::uint8_t>(command) +
                                             (fromServer ? kServerOffset : 0));
    return ComPortMessage(c, Bytes{value});
}

Bytes ComPortBaud(std::uint32_t baud, bool fromServer) {
    const auto c = static_cast<std::uint8_t>(static_cast<std::uint8_t>(ComCommand::SetBaudRate) +
                                             (fromServer ? kServerOffset : 0));
    return ComPortMessage(
        c, Bytes{static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                 static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)});
}

Codec::Codec(std::vector<std::uint8_t> local, std::vector<std::uint8_t> remote) {
    for (const std::uint8_t o : local) local_[o].wanted = true;
    for (const std::uint8_t o : remote) remote_[o].wanted = true;
}

void Codec::Send(std::uint8_t verb, std::uint8_t option) {
    replies_.insert(replies_.end(), {kIac, verb, option});
}

void Codec::OfferLocal(std::uint8_t option) {
    Side& s = local_[option];
    if (s.on || s.asked) return;
    s.wanted = true;
    s.asked = true;
    Send(kWill, option);
}

void Codec::AskRemote(std::uint8_t option) {
    Side& s = remote_[option];
    if (s.on || s.asked) return;
    s.wanted = true;
    s.asked = true;
    Send(kDo, option);
}

void Codec::Command(std::uint8_t verb, std::uint8_t option) {
    // WILL/WONT speak of the other end's side, DO/DONT of ours.
    const bool theirs = verb == kWill || verb == kWont;
    const bool enable = verb == kWill || verb == kDo;
    Side& s = theirs ? remote_[option] : local_[option];
    const std::uint8_t yes = theirs ? kDo : kWill;
    const std::uint8_t no = theirs ? kDont : kWont;
    if (enable) {
        if (s.on) return;  // already so: answering again is how loops start
        if (s.wanted) {
            if (s.enabled >= kMaxToggles) return;
            ++s.enabled;
            s.on = true;
            if (s.asked)
                s.asked = false;  // the answer to our own request
            else
                Send(yes, option);
            return;
        }
        // Refused once; a peer that keeps asking has heard the answer.
        if (s.refused || s.asked) return;
        s.refused = true;
        Send(no, option);
        return;
    }
    if (s.on) {
        s.on = false;
        Send(no, option);
    } else if (s.asked) {
        s.asked = false;
        s.refused = true;
    }
}

void Codec::Decode(const std::uint8_t* in, std::size_t size, Bytes& data) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = in[i];
        switch (state_) {
            case State::Data:
                if (b == kIac)
                    state_ = State::Iac;
                else
                    data.push_back(b);
                break;
            case State::Iac:
                if (b == kIac) {
                    data.push_back(kIac);
                    state_ = State::Data;
                } else if (b == kSb) {
                    state_ = State::SbOption;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Command;
                } else {
                    state_ = State::Data;  // NOP, GA, BREAK and the like carry nothing
                }
                break;
            case State::Command:
                Command(verb_, b);
                state_ = State::Data;
                break;
            case State::SbOption:
                sub_ = SubNeg{b, {}};
                state_ = State::SbData;
                break;
            case State::SbData:
                if (b == kIac)
                    state_ = State::SbIac;
                else if (sub_.payload.size() < kMaxSubNeg)
                    sub_.payload.push_back(b);
                break;
            case State::SbIac:
                if (b == kIac) {
                    if (sub_.payload.size() < kMaxSubNeg) sub_.payload.push_back(kIac);
                    state_ = State::SbData;
                } else if (b == kSe) {
                    subs_.push_back(std::move(sub_));
                    sub_ = {};
                    state_ = State::Data;
                } else {
                    // A command inside a sub-negotiation ends it unfinished;
                    // the command itself is read as usual.
                    sub_ = {};
                    if (b == kSb) {
                        state_ = State::SbOption;
                    } else if (b >= kWill && b <= kDont) {
                        verb_ = b;
                        state_ = State::Command;
                    } else {
                        state_ = State::Data;
                    }
                }
                break;
        }
    }
}

Bytes Codec::TakeReplies() {
    return std::exchange(replies_, {});
}

std::vector<SubNeg> Codec::TakeSubNegs() {
    return std::exchange(subs_, {});
}

std::optional<ComMessage> ReadComPort(const SubNeg& sub) {
    if (sub.option != kComPort || sub.payload.empty()) return std::nullopt;
    return ComMessage{sub.payload[0], Bytes(sub.payload.begin() + 1, sub.payload.end())};
}

namespace {

std::uint8_t ParityValue(char parity) {
    switch (parity) {
        case 'O':
            return kParityOdd;
        case 'E':
            return kParityEven;
        case 'M':
            return kParityMark;
        case 'S':
            return kParitySpace;
        default:
            return kParityNone;
    }
}

std::uint8_t StopValue(StopBits stop) {
    switch (stop) {
        case StopBits::Two:
            return kStopTwo;
        case StopBits::OneAndHalf:
            return kStopOneAndHalf;
        default:
            return kStopOne;
    }
}

const char* SettingName(ComCommand c) {
    switch (c) {
        case ComCommand::SetBaudRate:
            return "скорость";
        case ComCommand::SetDataSize:
            return "биты данных";
        case ComCommand::SetParity:
            return "чётность";
        case ComCommand::SetStopSize:
            return "стоповые биты";
        default:
            return "управление потоком";
    }
}

}  // namespace

LineSetup::LineSetup(const LineSettings& line)
    : items_{{ComCommand::SetBaudRate, static_cast<std::uint32_t>(line.baud)},
             {ComCommand::SetDataSize, static_cast<std::uint32_t>(line.dataBits)},
             {ComCommand::SetParity, ParityValue(line.parity)},
             {ComCommand::SetStopSize, StopValue(line.stop)},
             {ComCommand::SetControl, kControlNoFlow}} {}

Bytes LineSetup::Requests() const {
    Bytes out;
    for (const Item& i : items_) {
        const Bytes m = i.command == ComCommand::SetBaudRate
                            ? ComPortBaud(i.value)
                            : ComPortByte(i.command, static_cast<std::uint8_t>(i.value));
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}

void LineSetup::Take(const ComMessage& message) {
    for (Item& i : items_) {
        if (i.answered || message.command != static_cast<std::uint8_t>(i.command) + kServerOffset)
            continue;
        std::uint32_t got = 0;
        for (const std::uint8_t b : message.value) got = (got << 8) | b;
        const std::size_t width = i.command == ComCommand::SetBaudRate ? 4 : 1;
        i.answered = true;
        if ((message.value.size() != width || got != i.value) && refused_.empty())
            refused_ = std::string(SettingName(i.command)) + " " + std::to_string(got) +
                       " вместо " + std::to_string(i.value);
        return;
    }
}

bool LineSetup::Done() const {
    for (const Item& i : items_)
        if (!i.answered) return false;
    return true;
}

std::string LineSetup::Unanswered() const {
    std::string out;
    for (const Item& i : items_) {
        if (i.answered) continue;
        if (!out.empty()) out += ", ";
        out += SettingName(i.command);
    }
    return out;
}

}  // namespace busdesk::telnet
