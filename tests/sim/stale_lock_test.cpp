// A tool killed while it holds the pty exclusively leaves no lock behind. Root
// passes the exclusive flag, so the tool's side runs as an ordinary user: as
// itself when the test is not root, else in children that drop to a user id
// made for the test (no account needed for setuid).
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "sim/sim_bus.h"

namespace busdesk::sim {
namespace {

constexpr uid_t kTestUser = 64123;
constexpr gid_t kTestGroup = 64123;

// What a child reports on its pipe.
enum Report : char { kOpened = 'o', kBusy = 'b', kOtherError = 'e', kNoUser = 'u' };

struct Child {
    pid_t pid = -1;
    int pipe = -1;
};

// Opens `path` in a child as the tool does: flock(), then TIOCEXCL. A holder
// keeps it until killed; a probe only opens and closes. Async-signal-safe
// calls only after fork(): the bus thread runs in the parent.
Child Spawn(const std::string& path, bool switchUser, bool hold) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        auto report = [&](Report r) {
            const char c = r;
            [[maybe_unused]] const ssize_t n = write(fds[1], &c, 1);
        };
        if (switchUser &&
            (setgroups(0, nullptr) != 0 || setgid(kTestGroup) != 0 || setuid(kTestUser) != 0)) {
            report(kNoUser);
            _exit(0);
        }
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            report(errno == EBUSY ? kBusy : kOtherError);
            _exit(0);
        }
        if (hold && (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0)) {
            report(kOtherError);
            _exit(0);
        }
        report(kOpened);
        if (hold)
            for (;;) pause();
        close(fd);
        _exit(0);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

char Outcome(const Child& c) {
    char r = kOtherError;
    if (c.pipe < 0 || read(c.pipe, &r, 1) != 1) r = kOtherError;
    if (c.pipe >= 0) close(c.pipe);
    return r;
}

char Probe(const std::string& path, bool switchUser) {
    const Child c = Spawn(path, switchUser, false);
    const char r = Outcome(c);
    if (c.pid > 0) waitpid(c.pid, nullptr, 0);
    return r;
}

TEST(StaleLock, KilledToolsExclusiveLockIsReleasedButALiveOneIsKept) {
    SimulatedBus bus;
    const std::string path = bus.Start();
    ASSERT_FALSE(path.empty()) << bus.Error();
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), kTestUser, kTestGroup), 0) << std::strerror(errno);
    }

    const Child holder = Spawn(path, root, true);
    ASSERT_GT(holder.pid, 0);
    const char held = Outcome(holder);
    if (held == kNoUser) {
        kill(holder.pid, SIGKILL);
        waitpid(holder.pid, nullptr, 0);
        GTEST_SKIP() << "no ordinary user to be had here (setuid refused)";
    }
    ASSERT_EQ(held, kOpened);

    // The flag is in force for this user, and the bus leaves a live tool's lock
    // alone however long it holds it.
    EXPECT_EQ(Probe(path, root), kBusy);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Probe(path, root), kBusy);

    kill(holder.pid, SIGKILL);
    waitpid(holder.pid, nullptr, 0);
    char after = kBusy;
    for (int i = 0; i < 100 && after == kBusy; ++i) {
        after = Probe(path, root);
        if (after == kBusy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(after, kOpened);
}

}  // namespace
}  // namespace busdesk::sim
