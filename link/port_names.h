#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/port_discovery.h"

namespace busdesk {

// One line of the port table: a window port name, what it opens, and what
// that is.
struct PortEntry {
    std::string name;         // "COM1:"
    std::string path;         // empty when nothing is behind the name
    std::string description;  // "COM1: — /dev/ttyUSB0 — FTDI FT232R USB UART, s/n A10K3X5"
};

// Maps the window's port names ("COM1:".."COM9:") to what they open. The
// command line's mappings win; otherwise "COMn:" is the n-th device of the
// default order (POSIX), or the system's port of that name (Windows).
class PortMap {
  public:
    // "COM1:=/dev/ttyUSB0"; false when the text is not of that form, with the
    // reason in `why`. The name is one of the window's entries, COM1: to COM9:,
    // and may be given without its colon and in any case ("com1=/dev/ttyUSB0").
    bool AddMapping(const std::string& mapping, std::string* why = nullptr);
    // Maps a port name to a path; false (and nothing mapped) for a name that
    // is not "COMn:" or an empty path.
    bool Map(const std::string& name, const std::string& path);
    // What the command line mapped the name to, if anything.
    std::optional<std::string> Mapped(const std::string& name) const;
    // The path for a port name given the devices in default order; nullopt
    // for a name that is not "COMn:" (n 1..255) or has nothing behind it.
    std::optional<std::string> Resolve(const std::string& name,
                                       const std::vector<SerialDevice>& ordered) const;
    // The table for "COM1:".."COM9:" over the devices in default order.
    std::vector<PortEntry> Table(const std::vector<SerialDevice>& ordered) const;
    // The same for Windows, where "COMn:" is the system's COMn: `devices`
    // carry their node as "COMn" and their friendly name.
    std::vector<PortEntry> Win32Table(const std::vector<SerialDevice>& devices) const;
    // What CreateFileA gets on Windows: the name unchanged unless it was
    // mapped; a mapping to COMn opens \\.\COMn, which two-digit ports need.
    std::string Win32OpenName(const std::string& name) const;

    // "COMn:" for a port name written as COMn or COMn: in any case, n 1..255
    // without leading zeros; nullopt otherwise.
    static std::optional<std::string> CanonicalName(const std::string& name);
    // The window's entry ("COM1:".."COM9:") for a name spelled as
    // CanonicalName takes it; nullopt, with the reason in `why`, otherwise.
    static std::optional<std::string> WindowName(const std::string& name,
                                                 std::string* why = nullptr);

  private:
    std::map<std::string, std::string> overrides_;
};

// The text "COMn:" for n 1..9, the window's own list.
std::vector<std::string> WindowPortNames();

}  // namespace busdesk
