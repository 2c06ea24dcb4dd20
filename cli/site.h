#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The site file: what was left on a bus (devices by serial number, their
// addresses, versions, modes, calibration, one reading, the tags their readers
// hear), how a bus differs from it, and the commands that make a bus match it.
// Nothing here touches a port: the bus is read elsewhere into the same form.
namespace busdesk::cli::site {

inline constexpr const char* kFormat = "busdesk-site/1";
// A site file is written by this program and edited by people: anything
// larger is no site file.
inline constexpr std::size_t kFileLimit = 4u << 20;

// A live value: taken once, reported, compared only when asked.
struct Reading {
    std::string time;
    std::optional<std::uint16_t> level;
    std::optional<int> temperature;
    std::optional<std::uint32_t> current;
};

struct Calibration {
    std::uint32_t empty = 0;  // "Пустой"
    std::uint32_t full = 0;
    std::uint16_t k = 0;  // "K"
};

// A tag is known by its serial number; the rest can be written to it, apart
// from its version and the level its reader hears it at. A field a file leaves
// out is not compared.
struct Tag {
    std::uint32_t serial = 0;
    std::optional<std::uint32_t> id;
    std::optional<std::uint16_t> interval;
    std::optional<std::uint8_t> mode;
    std::optional<std::uint8_t> power;
    std::optional<std::uint16_t> sleep;
    std::optional<std::string> version;  // as the window shows it, "2.5.."
    std::optional<int> level;            // reception level
};

struct Device {
    std::uint8_t address = 0;
    std::uint32_t serial = 0;
    std::optional<std::string> version;  // as the window shows it, "21.3.1."
    std::optional<std::uint8_t> mode;    // the mode byte
    std::optional<Calibration> calibration;
    std::optional<Reading> reading;
    std::vector<Tag> tags;
};

struct Site {
    std::string date;
    std::string busdesk;  // the version that wrote it
    std::string port;
    std::vector<Device> devices;
};

// The document, pretty-printed, ending in a line break.
std::string Write(const Site& site);

// A site file read back. On failure `error` says what, at `line` and
// `column` (from 1, columns in characters).
struct Parsed {
    std::optional<Site> site;
    std::string error;
    int line = 0;
    int column = 0;
};
Parsed Parse(const std::string& text);

// Role words of the command line, and the window's captions.
std::string RoleWord(std::uint8_t mode);
std::string ModeText(std::uint8_t mode);

// One way in which the bus is not what the file says.
struct Difference {
    std::string field;                    // "device", "address", "mode", "tag.interval", ...
    std::uint32_t serial = 0;             // the device
    std::optional<std::uint8_t> address;  // where it is on the bus (in the file when missing)
    std::optional<std::uint32_t> tag;     // the tag's serial number, for tag fields
    std::string file;                     // the file's value, JSON ("null" when the file has none)
    std::string bus;                      // the bus's value, JSON
    std::string text;                     // for people
};

struct CompareOptions {
    // Readings differ when further apart than this many per cent of the
    // file's value; not compared without it.
    std::optional<double> readings;
};
std::vector<Difference> Compare(const Site& file, const Site& bus, const CompareOptions& options);

// The readings of the devices in both, side by side, for people.
std::vector<std::string> ReadingsText(const Site& file, const Site& bus);

// One command of busdesk-cli and why it is in the plan.
struct PlanStep {
    std::vector<std::string> words;
    std::string why;
};
struct Plan {
    std::vector<PlanStep> steps;
    // What the bus will still differ in: what no command can set (calibration,
    // versions, a device or tag missing), and moves that would put two
    // devices on one address.
    std::vector<std::string> leftOver;
};
// Devices are matched by serial number. Address moves come first, each onto
// a free address (a cycle goes through a temporary one), then modes, then tags.
Plan MakePlan(const Site& file, const Site& bus);

std::string JoinWords(const std::vector<std::string>& words);

// A site file's text: a regular file of at most kFileLimit bytes; anything else
// (a FIFO, a device, a folder) is refused without waiting on it.
struct Loaded {
    std::string text;
    std::string error;  // empty when read
};
Loaded Load(const std::string& path);

// A file written whole or not at all: a temporary file beside it, renamed
// over it once complete. Opened before the bus is read, so a folder that
// cannot be written to is known before anything is sent.
class WholeFile {
  public:
    WholeFile() = default;
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    // Removes the temporary file when nothing was committed.
    ~WholeFile();
    bool Open(const std::string& path, std::string* error);
    bool Commit(const std::string& text, std::string* error);

  private:
    void Discard();
    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

}  // namespace busdesk::cli::site
