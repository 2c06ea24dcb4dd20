#include "link/memory_port.h"

#include <algorithm>

namespace busdesk {

bool MemoryPort::OpenPort(const std::string& name, const std::string& settings) {
    openedNames.push_back(name);
    openedSettings.push_back(settings);
    isOpen = openSucceeds;
    return openSucceeds;
}

int MemoryPort::ClosePort() {
    ++closes;
    const bool wasOpen = isOpen;
    isOpen = false;
    return wasOpen ? 1 : 0;
}

void MemoryPort::FlushPort() {
    ++flushes;
}

Bytes MemoryPort::ReadPort() {
    ++reads;
    if (receptions.empty()) {
        FlushPort();  // as a real read that gets nothing
        return {};
    }
    Bytes r = std::move(receptions.front());
    receptions.pop_front();
    return r;
}

std::int16_t MemoryPort::WritePort(const Bytes& data) {
    writes.push_back(data);
    std::size_t n = data.size();
    if (failingWrites > 0) {
        --failingWrites;
        n = n > shortfall ? n - shortfall : 0;
        // A zero-byte write cannot come up short by count; make it visible anyway.
        if (data.empty()) return -1;
    }
    return static_cast<std::int16_t>(std::min<std::size_t>(n, 32767));
}

}  // namespace busdesk
