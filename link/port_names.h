#pragma once

#include <map>
#include <optional>
#include <string>

namespace busdesk {

// Maps the window's port names ("COM1:".."COM9:") to device paths. "COMn:"
// opens /dev/ttyS{n-1} unless the command line mapped it elsewhere.
class PortMap {
  public:
    // "COM1:=/dev/ttyUSB0"; false when the text is not of that form. The name
    // may be given without its colon and in any case ("com1=/dev/ttyUSB0").
    bool AddMapping(const std::string& mapping);
    // Maps a port name to a path; false (and nothing mapped) for a name that
    // is not "COMn:" or an empty path.
    bool Map(const std::string& name, const std::string& path);
    // The device path for a port name; nullopt for a name that is not "COMn:"
    // (n 1..255) and not mapped.
    std::optional<std::string> Resolve(const std::string& name) const;

    // "COMn:" for a port name written as COMn or COMn: in any case, n 1..255
    // without leading zeros; nullopt otherwise.
    static std::optional<std::string> CanonicalName(const std::string& name);

  private:
    std::map<std::string, std::string> overrides_;
};

}  // namespace busdesk
