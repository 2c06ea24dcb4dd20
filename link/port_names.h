#pragma once

#include <map>
#include <optional>
#include <string>

namespace busdesk {

// Maps the window's port names ("COM1:".."COM9:") to device paths. "COMn:"
// opens /dev/ttyS{n-1} unless the command line mapped it elsewhere.
class PortMap {
public:
    // "COM1:=/dev/ttyUSB0"; false when the text is not of that form.
    bool AddMapping(const std::string& spec);
    void Map(const std::string& name, const std::string& path) { overrides_[name] = path; }
    // The device path for a port name; nullopt for a name that is not "COMn:"
    // (n 1..255) and not mapped.
    std::optional<std::string> Resolve(const std::string& name) const;

private:
    std::map<std::string, std::string> overrides_;
};

}  // namespace busdesk
