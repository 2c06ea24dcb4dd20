#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>

#include "protocol/bytes.h"

namespace busdesk::testing {

// A pseudo-terminal standing in for a serial line: the port under test opens
// `path` (the slave side), the test plays the device on `master`.
class PtyLine {
  public:
    PtyLine() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~PtyLine() {
        CloseMaster();
        CloseSlave();
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool Ok() const { return master >= 0 && !path.empty(); }

    void Send(const Bytes& data) const {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(master, data.data() + done, data.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // What the port wrote, until `count` bytes or `waitMs` of silence.
    Bytes Receive(std::size_t count, int waitMs = 1000) const {
        Bytes out;
        std::uint8_t buf[512];
        while (out.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, waitMs) <= 0) break;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void CloseSlave() {
        if (slave >= 0) ::close(slave);
        slave = -1;
    }

    int master = -1;
    int slave = -1;  // kept open so the line's settings can be inspected
    std::string path;
};

}  // namespace busdesk::testing
