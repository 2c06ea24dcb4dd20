#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/mode_string.h"
#include "protocol/bytes.h"

// The telnet layer of a network serial line: data escaped on the way out,
// commands and sub-negotiations taken out of the way in, option requests
// answered, and the com-port control's messages built and read. Pure: no
// sockets, the caller moves the bytes.
namespace busdesk::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kEcho = 1;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// The com-port control's commands, as the client sends them; the server
// answers with the same command plus kServerOffset.
enum class ComCommand : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowSuspend = 8,
    FlowResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of the settings.
inline constexpr std::uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                              kParitySpace = 5;
inline constexpr std::uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
inline constexpr std::uint8_t kControlNoFlow = 1;
inline constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;

// `data` with every 0xFF doubled.
Bytes Escape(const Bytes& data);
// IAC SB option payload IAC SE, the payload escaped.
Bytes SubNegotiation(std::uint8_t option, const Bytes& payload);
// A com-port message: command and value (a baud rate is four bytes, big end
// first; the other settings one byte).
Bytes ComPortMessage(std::uint8_t command, const Bytes& value);
Bytes ComPortByte(ComCommand command, std::uint8_t value, bool fromServer = false);
Bytes ComPortBaud(std::uint32_t baud, bool fromServer = false);

struct SubNeg {
    std::uint8_t option = 0;
    Bytes payload;  // unescaped
};

// One end of a telnet connection. Options are enabled only where this end
// said it takes them; every other request is refused, and a refusal is sent
// only where it changes what the other end believes, so two ends never talk
// each other into a loop.
class Codec {
  public:
    // The options this end turns on at its own side (WILL) and accepts at
    // the other end's (DO).
    Codec(std::vector<std::uint8_t> local, std::vector<std::uint8_t> remote);

    // Asks for `option` at this end (WILL) or at the other (DO). Nothing is
    // sent for an option already on or already asked for.
    void OfferLocal(std::uint8_t option);
    void AskRemote(std::uint8_t option);

    // Takes bytes as they arrived, in any pieces: the data among them is
    // appended to `data`; answers wait in Replies(), sub-negotiations in
    // SubNegs().
    void Decode(const std::uint8_t* in, std::size_t size, Bytes& data);

    // What this end must send, in order; taken once.
    Bytes TakeReplies();
    std::vector<SubNeg> TakeSubNegs();

    bool LocalOn(std::uint8_t option) const { return local_[option].on; }
    bool RemoteOn(std::uint8_t option) const { return remote_[option].on; }
    // The other end answered a request for the option with a refusal.
    bool LocalRefused(std::uint8_t option) const { return local_[option].refused; }
    bool RemoteRefused(std::uint8_t option) const { return remote_[option].refused; }

    // The longest sub-negotiation kept; the rest of a longer one is dropped.
    static constexpr std::size_t kMaxSubNeg = 512;
    // A peer that turns an option on and off again more often than this is
    // no longer answered for it: each round would cost a reply.
    static constexpr int kMaxToggles = 8;

  private:
    struct Side {
        bool on = false;
        bool asked = false;    // a request of ours awaits its answer
        bool refused = false;  // the other end said no to us
        bool wanted = false;   // this end takes the option
        int enabled = 0;       // times turned on at the other end's word
    };
    enum class State { Data, Iac, Command, SbOption, SbData, SbIac };

    void Command(std::uint8_t verb, std::uint8_t option);
    void Send(std::uint8_t verb, std::uint8_t option);

    std::array<Side, 256> local_{};
    std::array<Side, 256> remote_{};
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    SubNeg sub_;
    Bytes replies_;
    std::vector<SubNeg> subs_;
};

// A com-port message from a sub-negotiation; nullopt for another option or
// an empty one.
struct ComMessage {
    std::uint8_t command = 0;  // as sent, server answers with kServerOffset added
    Bytes value;
};
std::optional<ComMessage> ReadComPort(const SubNeg& sub);

// The client's side of setting the line up once, at open: baud rate, data
// size, parity, stop size and no flow control, each answered by the server.
class LineSetup {
  public:
    explicit LineSetup(const LineSettings& line);
    // The five requests, to be sent in one go.
    Bytes Requests() const;
    // Takes a com-port answer; other messages are ignored.
    void Take(const ComMessage& message);
    bool Done() const;
    // The settings the server has not answered yet, as the user reads them
    // ("скорость, чётность").
    std::string Unanswered() const;
    // The first setting the server answered with another value than asked,
    // as "скорость 9600 вместо 19200"; empty when none.
    std::string Refused() const { return refused_; }

  private:
    struct Item {
        ComCommand command;
        std::uint32_t value;
        bool answered = false;
    };
    std::vector<Item> items_;
    std::string refused_;
};

}  // namespace busdesk::telnet
