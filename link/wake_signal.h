#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace busdesk {

// Wakes a thread that waits on a port: raised by one thread, it ends the
// other's WaitReadable at once. Level-triggered: it stays raised until
// cleared, so a raise that comes before the wait begins is not lost.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Any thread.
    void Raise();
    // The waiting thread, before it checks what it waits for.
    void Clear();
    bool Raised() const { return raised_.load(); }

#ifdef _WIN32
    // A manual-reset event, signalled while raised; null if none could be made.
    void* Event() const {
        return event_;
    }
#else
    // Readable while raised; -1 if neither an eventfd nor a pipe could be made.
    int Fd() const {
        return readFd_;
    }
#endif

    // For a port whose wait is not on a system handle: `hook` runs on each
    // raise until it is replaced or reset with an empty one. It must not
    // raise or clear this signal.
    void SetHook(std::function<void()> hook) const;

  private:
    std::atomic<bool> raised_{false};
    mutable std::mutex mutex_;
    mutable std::function<void()> hook_;
#ifdef _WIN32
    void* event_ = nullptr;
#else
    int readFd_ = -1;
    int writeFd_ = -1;  // the same as readFd_ for an eventfd
#endif
};

}  // namespace busdesk
