#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/bus_event.h"
#include "protocol/bytes.h"

namespace busdesk::engine {

using JournalEvent = BusEvent;

// The session journal: one JSON object a line, appended to a file, each line
// written and flushed to the disk by a thread of its own, at most kLatency
// after its event. Posting never waits for the disk: when the queue is full
// the event is dropped and counted.
class Journal {
  public:
    static constexpr std::size_t kDefaultCapacity = 1024;
    // The longest an event waits in the queue before its line is written.
    static constexpr std::chrono::milliseconds kLatency{20};

    // Opens `path` for appending (created when missing, never truncated) and
    // starts the writer. Null, with `error` saying why, when it cannot.
    static std::unique_ptr<Journal> Open(const std::string& path, std::string& error,
                                         std::size_t capacity = kDefaultCapacity);

    struct Counts {
        std::uint64_t lines = 0;  // written and flushed
        std::uint64_t lost = 0;   // dropped from a full queue or failed to write
        std::string error;        // the last write error; cleared by a good write
    };
    // Writes what is queued, then closes the file; the final figures. Safe
    // to call twice; the destructor calls it.
    Counts Close();
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // False when the event was dropped because the queue is full.
    bool Post(JournalEvent event);
    // Hands over every event of `events` (left empty) under one lock; those
    // that do not fit are dropped and counted.
    void PostAll(std::vector<JournalEvent>& events);

    Counts Stats() const;
    const std::string& Path() const { return path_; }

    // The line for one event, without its last line break; a write of
    // several request frames gives a line for each.
    static std::string Format(const JournalEvent& event);

  private:
    Journal(std::string path, int fd, std::size_t capacity);
    void Run();
    bool WriteLine(const std::string& line);

    const std::string path_;
    const int fd_;
    const std::size_t capacity_;
    bool torn_ = false;  // writer thread: the last line went out only in part

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<JournalEvent> queue_;
    bool stopping_ = false;
    bool closed_ = false;  // Close() has run
    Counts counts_;
    std::thread thread_;
};

// ISO 8601 local time with milliseconds and the UTC offset:
// 2026-12-08T16:18:53.123+03:00.
std::string IsoTime(std::chrono::system_clock::time_point t);

}  // namespace busdesk::engine
