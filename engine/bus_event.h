#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/replies.h"

namespace busdesk::engine {

// What one reception said, decoded once with the protocol's own parsers and
// gated as the window gates it: a reader data reply with a bad CRC carries no
// reading, a survey answer only counts when one was due.
struct Decoded {
    enum class What {
        Nothing,       // no reception
        Reading,       // reader data; `reading` (empty fields when the CRC is bad)
        Serial,        // serial number and version; `serial`
        Mode,          // mode confirmation; `mode`
        TagPing,       // a tag answered a ping; `tag`: serial, id, level
        TagData,       // a tag's parameters; `tag`: every field
        TagWritten,    // a tag confirmed its new parameters
        Confirmation,  // another known confirmation (levels, address, ...)
        Unknown,       // framed, a code nobody here knows
        Survey,        // the survey answer; `addresses`
        Other,         // unframed and no survey answer due
    };
    What what = What::Nothing;
    bool crcGood = false;      // framed replies: the last byte is the CRC of the rest
    std::uint8_t address = 0;  // framed replies: sender and code
    std::uint8_t code = 0;
    proto::ReaderReading reading;
    proto::SerialVersion serial;
    std::optional<std::uint8_t> mode;
    proto::TagFields tag;
    std::vector<std::uint8_t> addresses;
};

// One thing that happened on the line, as the engine saw it: the journal
// writes it, a front end may listen to it. Only copied on the engine thread.
struct BusEvent {
    enum class Kind {
        Start,        // the journal was opened; `text` is the program and version
        Open,         // `text` the port name, `ok` whether it opened, `reason` why not
                      // or, when it opened, what the line wants the user to know
        Close,        // the port was closed
        Tx,           // one write in `bytes` (one or more request frames)
        Rx,           // one reception in `bytes`; `ok`: a survey answer was due; `heard`
        Silent,       // a read after a request got nothing
        WriteFailed,  // `bytes` could not be written in full
        Command,      // a request that changes a device, `bytes` its frame, `id` its number
        Result,       // whether command `id` was confirmed (`ok`), `bytes` the reply and `heard`
                      // what it said, `text` why not
    };
    Kind kind = Kind::Start;
    std::chrono::system_clock::time_point time{};
    Bytes bytes;
    std::string text;
    std::string reason;
    std::uint64_t id = 0;
    bool ok = false;
    Decoded heard{};
};

}  // namespace busdesk::engine
