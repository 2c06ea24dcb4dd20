#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace busdesk {

// Why a port did not open, in words a user can act on: Russian lead words,
// then the system's own text. Both backends build their OpenError() here, so
// the same trouble reads the same on every platform.
enum class OpenTrouble {
    NoDevice,   // nothing behind the name or path
    Busy,       // another program holds the line
    Denied,     // this user may not open it
    NotSerial,  // it opened, but it is no serial line
    Settings,   // the line refused the settings
    Other,
};

struct OpenReason {
    OpenTrouble trouble = OpenTrouble::Other;
    std::string device;       // what was opened: a path, or the name given to the system
    std::string systemText;   // the system's text for its error code; may be empty
    std::optional<long> pid;  // Busy: who holds the line, where the system says
    std::string settings;     // Settings: the mode string
};

std::string ReasonText(const OpenReason& reason);

// The trouble an errno value from opening or locking a device means.
OpenTrouble TroubleOfErrno(int error);
// The same for a Win32 error code from CreateFileA and the port calls.
OpenTrouble TroubleOfWin32Error(unsigned long code);

// A name that leads to no device at all: "COM3:" with two ports found, or a
// name that is no port name.
std::string NoPortText(const std::string& name, std::size_t found, bool portName);

// What a user outside the group that owns serial lines does about it.
inline constexpr std::string_view kDialoutHint =
    "добавьте себя в группу dialout: sudo adduser $USER dialout и войдите заново";

// The process that holds a lock on the file (st_dev as major and minor, and
// the inode), as /proc/locks lists it, a flock() first; nullopt when no one
// does or the holder is not visible from here.
std::optional<long> LockHolder(std::string_view procLocks, unsigned major, unsigned minor,
                               unsigned long inode);

// The system's text for an errno value, without trailing punctuation.
std::string ErrnoText(int error);

// The RS-485 refusal: strerror and what it means.
std::string Rs485RefusedText(const std::string& path, int error);

}  // namespace busdesk
