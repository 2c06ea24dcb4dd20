#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/bus_event.h"
#include "protocol/bytes.h"

namespace busdesk::engine {

using JournalEvent = BusEvent;

// The session journal: one JSON object a line, appended to a file by a thread
// of its own that sleeps until there is something to write. The events posted
// together (a tick's) are a batch, handed to the system in one write, so a
// crash of the program keeps every batch but the one being written. A batch
// that records a change (a command, its result, the port opened or closed,
// a failed write, the start) is flushed to the disk at once; routine traffic
// at most `syncEvery` after it was written, so a power cut loses at most that
// much of it while the disk is not woken on every tick.
// Posting never waits for the disk: when the queue is full the event is
// dropped and counted. Closing waits at most a bounded time for
// the writer, so a disk or terminal that stopped taking writes cannot keep the
// program from exiting.
class Journal {
  public:
    static constexpr std::size_t kDefaultCapacity = 1024;
    // How long Close() waits for the writer to write out what is queued.
    static constexpr std::chrono::milliseconds kCloseWait{2000};
    // How long routine lines may wait in the system's cache for the disk.
    static constexpr std::chrono::milliseconds kSyncEvery{2000};

    // Writes up to `size` bytes as write(2) does: how many went, or -1 with
    // errno set. Tests stand a full or stalled disk in for the file with it.
    using WriteFunction = std::function<long(int fd, const char* data, std::size_t size)>;
    // Flushes the file to the disk as fdatasync(2) does: 0, or -1 with errno.
    using SyncFunction = std::function<int(int fd)>;

    // Opens `path` for appending (created when missing, never truncated) and
    // starts the writer. Only a regular file or a character device (/dev/null)
    // is taken: a named pipe or a socket could stall the program, and is
    // refused without waiting for a reader. Null, with `error` saying why,
    // when it cannot. `syncEvery` zero flushes every batch.
    static std::unique_ptr<Journal> Open(const std::string& path, std::string& error,
                                         std::size_t capacity = kDefaultCapacity,
                                         WriteFunction write = {},
                                         const std::string& program = "busdesk",
                                         std::chrono::milliseconds syncEvery = kSyncEvery,
                                         SyncFunction sync = {});

    struct Counts {
        std::uint64_t lines = 0;  // written and flushed to the disk
        std::uint64_t lost = 0;   // dropped, failed to write or flush, or left unwritten at close
        std::string error;        // the last write error; cleared by a good write
    };
    // Writes what is queued, then closes the file; the final figures. When
    // the writer has not finished after `wait`, it is left behind (it closes
    // the file itself if the write ever returns), and whatever it had not
    // written counts as lost. Safe to call twice; the destructor calls it.
    Counts Close(std::chrono::milliseconds wait = kCloseWait);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // False when the event was dropped because the queue is full or the
    // journal is closed.
    bool Post(JournalEvent event);
    // Hands over every event of `events` (left empty) as one batch; those
    // that do not fit are dropped and counted.
    void PostAll(std::vector<JournalEvent>& events);

    Counts Stats() const;
    const std::string& Path() const { return path_; }

    // The line for one event, without its last line break; a write of
    // several request frames gives a line for each.
    static std::string Format(const JournalEvent& event);

  private:
    // Everything the writer thread touches. Owned jointly by the journal and
    // the thread, so a writer left behind in a stalled write outlives the
    // journal safely.
    struct Shared;
    Journal(std::string path, std::shared_ptr<Shared> shared);
    static void Run(std::shared_ptr<Shared> shared);

    const std::string path_;
    const std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

// ISO 8601 local time with milliseconds and the UTC offset:
// 2026-12-08T16:18:53.123+03:00.
std::string IsoTime(std::chrono::system_clock::time_point t);

}  // namespace busdesk::engine
