#include "link/wake_signal.h"

#include <cstdint>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif
#endif

namespace busdesk {

#ifdef _WIN32

WakeSignal::WakeSignal() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WakeSignal::~WakeSignal() {
    if (event_ != nullptr) ::CloseHandle(event_);
}

void WakeSignal::Raise() {
    std::lock_guard lock(mutex_);
    if (!raised_.exchange(true) && event_ != nullptr) ::SetEvent(event_);
    if (hook_) hook_();
}

void WakeSignal::Clear() {
    std::lock_guard lock(mutex_);
    if (raised_.exchange(false) && event_ != nullptr) ::ResetEvent(event_);
}

#else

WakeSignal::WakeSignal() {
#ifdef __linux__
    readFd_ = writeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (readFd_ >= 0) return;
#endif
    int fds[2];
    if (::pipe(fds) != 0) return;
    for (const int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
}

WakeSignal::~WakeSignal() {
    if (readFd_ >= 0) ::close(readFd_);
    if (writeFd_ >= 0 && writeFd_ != readFd_) ::close(writeFd_);
}

// Under the lock the handle is readable exactly while raised: a wait that
// returns with the signal down was not woken by it.
void WakeSignal::Raise() {
    std::lock_guard lock(mutex_);
    // One token at most is outstanding: a raised signal needs no second.
    if (!raised_.exchange(true) && writeFd_ >= 0) {
        const std::uint64_t one = 1;
        // An eventfd takes 8 bytes; a pipe takes any. Full (never, with one
        // token) would only mean it is readable already.
        [[maybe_unused]] const ssize_t n =
            ::write(writeFd_, &one, writeFd_ == readFd_ ? sizeof one : 1);
    }
    if (hook_) hook_();
}

void WakeSignal::Clear() {
    std::lock_guard lock(mutex_);
    if (!raised_.exchange(false) || readFd_ < 0) return;
    std::uint64_t drained = 0;
    while (::read(readFd_, &drained, readFd_ == writeFd_ ? sizeof drained : 1) > 0) {
    }
}

#endif

void WakeSignal::SetHook(std::function<void()> hook) const {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

}  // namespace busdesk
