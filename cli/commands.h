#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/session.h"
#include "protocol/replies.h"

namespace busdesk::cli {

namespace site {
struct Site;
struct Device;
}  // namespace site

// How long the command line waits, in exchange ticks of 500 ms.
inline constexpr int kSendTicks = 2;     // for the frame of a click to go out
inline constexpr int kReplyTicks = 4;    // after that, for the first reply to it
inline constexpr int kTagTicks = 24;     // for a named tag to be heard by its reader
inline constexpr int kReadingTicks = 6;  // between two readings of the selected device
// A selected device that answered within this many ticks is answering: the
// exchange asks it each tick, a reader without tags answers every other one.
inline constexpr int kAnsweringTicks = 2;
// With --reconnect, how long a command waits for a line that went away before
// it gives up with kPortFailed: fifteen tries, time for an adapter to be
// plugged back or a server to restart.
inline constexpr int kLineTicks = 60;

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

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& s);
// A shown decimal as a JSON number, or a JSON string when it is no number.
std::string JsonNumber(const std::string& shown);
// One line: the record's own text, or a JSON object of its fields in order.
std::string FormatRecord(const Record& r, bool json);

// "1 такт", "2 такта", "5 тактов", "21 такт": the Russian form for n.
std::string Plural(long long n, const char* one, const char* few, const char* many);

// How a long wait goes, on one line of standard error rewritten in place
// ("жду метку 1A2B3C4D: 6 с из 12"); nothing at all when that is no terminal,
// so logs and pipes stay clean.
class Progress {
  public:
    Progress(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
    // Whether standard error is a terminal.
    static bool StderrIsTerminal();
    void Show(const std::string& what, int seconds, int of);
    // Wipes the line, if one is shown.
    void Clear();

  private:
    std::ostream& out_;
    bool terminal_;
    std::size_t shown_ = 0;  // characters on the line now
};

// `report`: the commissioning report from journals and a site file. Opens no
// port; says skipped journal lines on standard error.
Outcome RunReport(const Step& step);

// Runs commands on one window: the port is opened once, the survey is reused.
// What the device said comes from the engine's bus events, the same the
// journal writes, so the exit code and the journal always agree; the window's
// handlers still make the frames.
class Runner {
  public:
    // `progress` null: progress on standard error when it is a terminal.
    Runner(Session& session, std::string port, std::function<void(const Record&)> out,
           Progress* progress = nullptr);
    Outcome Run(const Step& step);
    // The steps of a plan in order, one result record each.
    Outcome RunPlan(const std::vector<Step>& steps, bool keepGoing);
    // How long a command waits for a line the engine tries again; kLineTicks
    // unless a test shortens it.
    void SetLineTicks(int ticks) { lineTicks_ = ticks; }

  private:
    struct Sent {
        std::uint64_t tick = 0;
        std::uint64_t command = 0;  // its number, when the write changes a device
    };

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
    Outcome ReadTag(const Step& s, proto::TagFields* read);
    Outcome WriteTag(const Step& s);
    // Site files (site_commands.cpp): the whole bus read into a site, each
    // device from what it answered; compared with a file; made to match it.
    Outcome Inventory(const Step& s);
    Outcome Verify(const Step& s);
    Outcome Apply(const Step& s);
    Outcome ReadSite(int tagSeconds, site::Site* bus);
    Outcome ReadDevice(std::uint8_t address, int tagSeconds, std::uint64_t since,
                       site::Device* device);

    // The values of a step checked as the window would check them, before
    // anything is sent; the window's message when one fails.
    std::optional<Outcome> Precheck(const Step& s);

    // After a handler: refused with the window's message, or nothing queued.
    std::optional<Outcome> Refused(const Session::Done& d, const std::string& what);
    // The write that carried the frames a handler left, after event `*from`.
    std::optional<Outcome> WaitSent(const Session::Done& d, std::uint64_t* from,
                                    std::uint64_t after, const std::string& what, Sent* sent);
    // The engine's decision on command `sent.command`; its reply in `*result`.
    Outcome Confirmed(const Sent& sent, std::uint64_t* from, const std::string& what,
                      engine::BusEvent* result = nullptr);
    Outcome SendAndConfirm(const Session::Done& d, std::uint64_t from, std::uint64_t before,
                           const std::string& what, engine::BusEvent* result = nullptr);
    // Waits for the selected reader to hear the tag, then clicks `control`
    // (typing `texts` first) in the same turn; `*from` and `*before` are the
    // event mark and tick just before the click.
    std::optional<Session::Done> WhenTagHeard(
        const std::string& idText, const std::vector<std::pair<std::string, std::string>>& texts,
        const std::string& control, std::uint64_t* from, std::uint64_t* before,
        const std::optional<std::string>& input);
    std::function<void(std::uint64_t)> ProgressOf(const std::string& what, std::uint64_t start,
                                                  int ticks);
    void Emit(Record r) {
        progress_->Clear();
        out_(r);
    }

    Session& session_;
    std::string port_;
    std::function<void(const Record&)> out_;
    std::unique_ptr<Progress> ownProgress_;
    Progress* progress_;
    int lineTicks_ = kLineTicks;
};

}  // namespace busdesk::cli
