#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/session.h"

namespace busdesk::cli {

// How long the command line waits, in exchange ticks of 500 ms.
inline constexpr int kSendTicks = 2;     // for the frame of a click to go out
inline constexpr int kReplyTicks = 4;    // after that, for the first reply to it
inline constexpr int kTagTicks = 24;     // for a named tag to be heard by its reader
inline constexpr int kReadingTicks = 6;  // between two readings of the selected device

// One line of output: a record with its fields, in order. Values are JSON
// already (numbers, quoted strings, arrays).
struct Record {
    std::string type;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string human;  // the line for people
};

struct Outcome {
    int exit = kDone;
    std::string text;
};

std::string JsonString(const std::string& s);
// A shown decimal as a JSON number, or a JSON string when it is no number.
std::string JsonNumber(const std::string& shown);
std::string FormatRecord(const Record& r, bool json);

// Runs commands on one window: the port is opened once, the survey is reused.
class Runner {
  public:
    Runner(Session& session, std::string port, std::function<void(const Record&)> out);
    Outcome Run(const Step& step);
    // The steps of a plan in order, one result record each.
    Outcome RunPlan(const std::vector<Step>& steps, bool keepGoing);

  private:
    Outcome Open();
    Outcome Survey(bool report);
    Outcome Select(const std::string& address);
    Outcome Show(const Step& s);
    Outcome SetAddress(const Step& s);
    Outcome SetMode(const Step& s);
    Outcome Calibrate(const Step& s);
    Outcome SetSerial(const Step& s, const std::string& tagText);
    Outcome SetIdent(const Step& s);
    Outcome Tags(const Step& s);
    Outcome ReadTag(const Step& s, std::map<std::string, std::string>* read);
    Outcome WriteTag(const Step& s);

    // After a handler: refused with the window's message, or nothing queued.
    std::optional<Outcome> Refused(const Session::Done& d, const std::string& what);
    // The tick that wrote `frame`, nullopt when it did not go out in time.
    std::optional<View> Sent(const std::vector<std::uint8_t>& frame, std::uint64_t after);
    // The first reception after `sent`: the model must have decoded the reply
    // with `code` and shown `status`.
    Outcome Confirmed(const View& sent, std::uint8_t code, const std::string& status,
                      const std::string& what, std::optional<View>* seen = nullptr);
    Outcome SendAndConfirm(const Session::Done& d, std::uint64_t before, std::uint8_t code,
                           const std::string& status, const std::string& what,
                           std::optional<View>* seen = nullptr);
    // Waits for the selected reader to hear the tag, then clicks `control`
    // (typing `texts` first) in the same turn.
    std::optional<Session::Done> WhenTagHeard(
        const std::string& idText, const std::vector<std::pair<std::string, std::string>>& texts,
        const std::string& control, std::uint64_t* before, const std::optional<std::string>& input);
    void Emit(Record r) { out_(r); }

    Session& session_;
    std::string port_;
    std::function<void(const Record&)> out_;
};

}  // namespace busdesk::cli
