#include "sim/pty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace busdesk::sim {

namespace {

std::string Failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool OpenPty(Pty& pty, std::string& error) {
    ClosePty(pty);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = Failure("posix_openpt");
        return false;
    }
    std::array<char, 128> name{};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name.data(), name.size()) != 0) {
        error = Failure("pseudo-terminal setup");
        close(master);
        return false;
    }
    const int slave = open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = Failure("open slave");
        close(master);
        return false;
    }
    // Raw from the start, so that a tool that does not set the line up itself
    // gets no echo of its own requests.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B19200);
        cfsetospeed(&tio, B19200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(master, F_SETFD, FD_CLOEXEC) != 0) {
        error = Failure("fcntl");
        close(slave);
        close(master);
        return false;
    }
    pty.master = master;
    pty.slave = slave;
    pty.path = name.data();
    return true;
}

bool ReleaseStaleLock(Pty& pty) {
    if (pty.slave < 0) return false;
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (::ioctl(pty.slave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return false;
#endif
    // The tool's flock() sits on the same terminal; while it can be had, the
    // tool that set the flag has closed its side. Held only for the test, so a
    // tool opening now never finds it taken.
    if (::flock(pty.slave, LOCK_EX | LOCK_NB) != 0) return false;
    ::flock(pty.slave, LOCK_UN);
#ifdef TIOCGEXCL
    return ::ioctl(pty.slave, TIOCNXCL) == 0;
#else
    // Without a way to ask, clear it anyway (harmless when unset), unreported.
    ::ioctl(pty.slave, TIOCNXCL);
    return false;
#endif
}

void ClosePty(Pty& pty) {
    if (pty.slave >= 0) close(pty.slave);
    if (pty.master >= 0) close(pty.master);
    pty.slave = -1;
    pty.master = -1;
}

}  // namespace busdesk::sim
