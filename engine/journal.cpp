#include "engine/journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "engine/line_frames.h"
#include "engine/local_time.h"
#include "protocol/replies.h"

#ifdef _WIN32
#include <io.h>

#include "engine/file_path.h"
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace busdesk::engine {

namespace {

using Kind = JournalEvent::Kind;
using Json = nlohmann::ordered_json;

#ifdef _WIN32
using FileStat = struct _stat;
constexpr unsigned kTypeMask = _S_IFMT;
constexpr unsigned kRegular = _S_IFREG;
constexpr unsigned kCharDevice = _S_IFCHR;
constexpr unsigned kDirectory = _S_IFDIR;
constexpr unsigned kPipe = _S_IFIFO;

int OpenAppend(const std::string& path) {
    // Opening never waits on Windows: a pipe without a free instance fails
    // at once. The type is checked after, as on POSIX.
    return OpenPath(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}
int StatPath(const std::string& path, FileStat& st) {
    return PathStatus(path, st);
}
int StatFd(int fd, FileStat& st) {
    return ::_fstat(fd, &st);
}
long WriteSome(int fd, const char* data, std::size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(size));
}
int Sync(int fd) {
    return ::_commit(fd);
}
void CloseFile(int fd) {
    ::_close(fd);
}
#else
using FileStat = struct stat;
constexpr unsigned kTypeMask = S_IFMT;
constexpr unsigned kRegular = S_IFREG;
constexpr unsigned kCharDevice = S_IFCHR;
constexpr unsigned kDirectory = S_IFDIR;
constexpr unsigned kPipe = S_IFIFO;

int OpenAppend(const std::string& path) {
    // O_NONBLOCK: opening a named pipe for writing otherwise waits for a
    // reader, before the window or the command has started. O_NOCTTY: a
    // terminal given as the journal must not become ours.
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                  0644);
}
int StatPath(const std::string& path, FileStat& st) {
    return ::stat(path.c_str(), &st);
}
int StatFd(int fd, FileStat& st) {
    return ::fstat(fd, &st);
}
long WriteSome(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}
int Sync(int fd) {
    return ::fdatasync(fd);
}
void CloseFile(int fd) {
    ::close(fd);
}
#endif

unsigned TypeOf(const FileStat& st) {
    return static_cast<unsigned>(st.st_mode) & kTypeMask;
}

// A regular file, or a character device such as /dev/null: its writes go
// through the non-blocking descriptor, and a device that stops taking them
// only costs lines, never the exit.
bool Accepted(unsigned type) {
    return type == kRegular || type == kCharDevice;
}

std::string Refusal(const std::string& path, unsigned type) {
    const char* what = "не обычный файл";
    if (type == kPipe) what = "именованный канал";
    if (type == kDirectory) what = "каталог";
#ifndef _WIN32
    if (type == S_IFSOCK) what = "сокет";
    if (type == S_IFBLK) what = "блочное устройство";
#endif
    return "не удаётся открыть журнал " + path + ": это " + what +
           ", а журнал пишется только в обычный файл";
}

template <typename T>
void PutNumber(Json& j, const char* key, const std::optional<T>& v) {
    if (v) j[key] = *v;
}

void PutTag(Json& j, const proto::TagFields& t) {
    PutNumber(j, "serial", t.serial);
    if (t.id) j["id"] = proto::TagIdShown(*t.id);
    PutNumber(j, "interval", t.interval);
    PutNumber(j, "mode", t.mode);
    PutNumber(j, "power", t.power);
    PutNumber(j, "sleep", t.sleep);
    PutNumber(j, "version", t.version);
    PutNumber(j, "level", t.level);
}

// What the engine's decoding took from a framed reply, as numbers; only the
// fields the reply held. A reply whose CRC is wrong gives none: its bytes are
// in `hex`, but a script must not take a corrupted number for a value.
Json DecodedValues(const Decoded& d) {
    using What = Decoded::What;
    Json v = Json::object();
    if (!d.crcGood) return v;
    switch (d.what) {
        case What::Reading: {
            const proto::ReaderReading& r = d.reading;
            PutNumber(v, "level", r.level);
            PutNumber(v, "temperature", r.temperature);
            PutNumber(v, "current", r.current);
            PutNumber(v, "empty", r.empty);
            PutNumber(v, "full", r.full);
            PutNumber(v, "k", r.k);
            PutNumber(v, "mode", r.mode);
            break;
        }
        case What::Serial:
            PutNumber(v, "serial", d.serial.serial);
            if (d.serial.version) {
                v["version"] = *d.serial.version;
                v["version_prefix"] = d.serial.prefix;
                v["version_text"] = proto::VersionShown(d.serial);
            }
            break;
        case What::Mode:
            PutNumber(v, "mode", d.mode);
            break;
        case What::TagPing:
        case What::TagData:
            PutTag(v, d.tag);
            break;
        default:
            break;
    }
    return v;
}

void Reception(Json& j, const JournalEvent& e) {
    const Bytes& rx = e.bytes;
    if (IsFramedReply(rx)) {
        j["addr"] = rx[1];
        j["code"] = Hex2({rx[2]});
        const std::string meaning = ReplyMeaning(rx[2]);
        j["meaning"] = meaning.empty() ? "неизвестный код" : meaning;
        j["crc"] = CrcGood(rx);
        Json values = DecodedValues(e.heard);
        if (!values.empty()) j["decoded"] = std::move(values);
    } else if (e.ok) {
        j["meaning"] = "ответ на опрос сети";
        Json addresses = Json::array();
        for (const std::uint8_t a : rx) addresses.push_back(a);
        j["addresses"] = std::move(addresses);
    } else {
        j["meaning"] = "не ответ устройства";
    }
}

// The values of a command, which come as the members of an object.
Json Values(const std::string& members) {
    Json values = Json::parse("{" + members + "}", nullptr, false);
    return values.is_object() ? values : Json::object();
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    auto secs = static_cast<std::time_t>(ms / 1000);
    auto frac = static_cast<int>(ms % 1000);
    if (frac < 0) {
        frac += 1000;
        --secs;
    }
    const LocalTime here = LocalTimeOf(secs);
    const std::tm& local = here.tm;
    const int offset = here.utcOffsetMinutes;
    const int a = offset < 0 ? -offset : offset;
    std::array<char, 128> buf{};  // room for any int, as the compiler counts
    std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, frac, offset < 0 ? '-' : '+', a / 60, a % 60);
    return buf.data();
}

std::string Journal::Format(const JournalEvent& e) {
    if (e.kind == Kind::Tx) {
        // A write of several frames: a line for each.
        const std::vector<Bytes> frames = SplitRequests(e.bytes);
        if (frames.size() > 1) {
            std::string lines;
            JournalEvent one = e;
            for (const Bytes& f : frames) {
                one.bytes = f;
                if (!lines.empty()) lines += '\n';
                lines += Format(one);
            }
            return lines;
        }
    }
    Json j = Json::object();
    j.get_ref<Json::object_t&>().reserve(8);  // the most keys a line has
    j["t"] = IsoTime(e.time);
    switch (e.kind) {
        case Kind::Start:
            j["ev"] = "start";
            j["program"] = e.text;
            break;
        case Kind::Open:
            j["ev"] = "open";
            j["port"] = e.text;
            j["ok"] = e.ok;
            if (!e.reason.empty()) j["reason"] = e.reason;
            break;
        case Kind::Close:
            j["ev"] = "close";
            break;
        case Kind::Tx: {
            j["ev"] = "tx";
            const Bytes& f = e.bytes;
            if (f.size() >= 2) j["addr"] = f[1];
            if (f.size() > 3 && !IsSurveyRequest(f)) j["code"] = Hex2({f[2]});
            const std::string meaning = RequestMeaning(f);
            j["meaning"] = meaning.empty() ? "неизвестная команда" : meaning;
            break;
        }
        case Kind::Rx:
            j["ev"] = "rx";
            Reception(j, e);
            break;
        case Kind::Silent:
            j["ev"] = "silent";
            j["meaning"] = "нет ответа";
            break;
        case Kind::WriteFailed:
            j["ev"] = "write_error";
            j["meaning"] = "ошибка записи в порт";
            break;
        case Kind::Command: {
            j["ev"] = "command";
            j["id"] = e.id;
            const CommandText c = DescribeCommand(e.bytes);
            j["what"] = c.what;
            if (e.bytes.size() >= 2) j["addr"] = e.bytes[1];
            j["values"] = Values(c.values);
            j["text"] = c.text;
            break;
        }
        case Kind::Result:
            j["ev"] = "result";
            j["id"] = e.id;
            j["confirmed"] = e.ok;
            if (!e.text.empty()) j["reason"] = e.text;
            break;
    }
    if (!e.bytes.empty() && e.kind != Kind::Start) j["hex"] = Hex2(e.bytes);
    // A port name or a reason may hold bytes that are not UTF-8; the line
    // must still parse.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

struct Journal::Shared {
    Shared(int file, bool onDisk, std::size_t size, WriteFunction writer,
           std::chrono::milliseconds every, SyncFunction syncer)
        : fd(file),
          regular(onDisk),
          capacity(size),
          write(std::move(writer)),
          syncEvery(every),
          sync(std::move(syncer)) {}

    const int fd;
    const bool regular;  // only a file on a disk is synced
    const std::size_t capacity;
    const WriteFunction write;
    const std::chrono::milliseconds syncEvery;
    const SyncFunction sync;
    bool torn = false;  // writer thread: the last line went out only in part
    // Set by Close() when it gives up on the writer: from then on the writer
    // counts nothing and only closes the file.
    std::atomic<bool> abandoned{false};

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;  // signalled once `finished` is set
    // Each batch as posted together; `queued` counts their events.
    std::deque<std::vector<JournalEvent>> batches;
    std::size_t queued = 0;
    bool stopping = false;
    bool closed = false;      // Close() has run
    std::size_t writing = 0;  // events the writer has taken and not yet counted
    bool finished = false;    // the writer has returned and closed the file
    // Lines handed to the system and not yet flushed: counted once the sync
    // says how it went. `syncDue` is when the oldest of them must be flushed.
    std::uint64_t unsynced = 0;
    std::chrono::steady_clock::time_point syncDue{};
    Counts counts;

    long Put(const char* data, std::size_t size) const {
        return write ? write(fd, data, size) : engine::WriteSome(fd, data, size);
    }
    int Flush() const { return sync ? sync(fd) : engine::Sync(fd); }
    bool WaitWritable() const;
    std::size_t WriteText(const std::string& text);
    void WriteBatch(std::unique_lock<std::mutex>& lock, std::vector<JournalEvent> batch);
    bool SyncUnsynced(std::unique_lock<std::mutex>& lock);
    bool Enqueue(std::vector<JournalEvent>& events);
};

namespace {

// Lines that record a change or a turn of the session: flushed at once, as
// the report and the site file stand on them.
bool MustReachDisk(const JournalEvent& e) {
    return e.kind != JournalEvent::Kind::Tx && e.kind != JournalEvent::Kind::Rx &&
           e.kind != JournalEvent::Kind::Silent;
}

}  // namespace

// A character device that does not take a write now (a terminal held by
// flow control): wait for it in slices, so a writer given up on by Close()
// notices and ends.
bool Journal::Shared::WaitWritable() const {
#ifdef _WIN32
    return false;
#else
    for (;;) {
        if (abandoned.load()) {
            errno = ECANCELED;
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, 100);
        if (n > 0 && !abandoned.load()) return true;  // writable, or an error to report
        if (n < 0 && errno != EINTR) return false;
    }
#endif
}

// Writes `text`, whole lines; how many of its bytes went (all, or errno says
// why not).
std::size_t Journal::Shared::WriteText(const std::string& text) {
    std::string out;
    // A line that went out only in part is ended first, so the next one
    // starts a line of its own and a reader skips just the broken one.
    const std::size_t lead = torn ? 1 : 0;
    if (torn) out += '\n';
    out += text;
    std::size_t done = 0;
    while (done < out.size()) {
        const long n = Put(out.data() + done, out.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            torn = out[done - 1] != '\n';
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable()) continue;
        if (n == 0) errno = EIO;
        break;
    }
    return done > lead ? done - lead : 0;
}

// One write for the whole batch; flushed to the disk at once when it records
// a change or a write failed, else with the lines after it once `syncEvery`
// has passed. Called and returns with `lock` held.
void Journal::Shared::WriteBatch(std::unique_lock<std::mutex>& lock,
                                 std::vector<JournalEvent> batch) {
    writing = batch.size();
    lock.unlock();
    std::string text;
    struct Piece {
        std::size_t end;      // just past its last line break in `text`
        std::uint64_t lines;  // a write of several frames has a line each
    };
    std::vector<Piece> pieces;
    pieces.reserve(batch.size());
    bool urgent = syncEvery.count() <= 0;
    for (const JournalEvent& e : batch) {
        const std::string line = Format(e);
        text += line;
        text += '\n';
        pieces.push_back({text.size(), 1 + static_cast<std::uint64_t>(
                                               std::count(line.begin(), line.end(), '\n'))});
        urgent = urgent || MustReachDisk(e);
    }
    const std::size_t done = WriteText(text);
    const int code = errno;
    lock.lock();
    writing = 0;
    if (abandoned) return;  // Close() has counted these lines as lost
    std::uint64_t lost = 0;
    std::uint64_t taken = 0;
    for (const Piece& p : pieces) {
        if (p.end <= done) {
            taken += p.lines;
        } else {
            ++lost;
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (taken > 0 && unsynced == 0) syncDue = now + syncEvery;
    unsynced += taken;
    counts.lost += lost;
    // A failed write is flushed at once too, so the figures settle on what
    // the disk holds.
    bool flushed = true;
    if (unsynced > 0 && (urgent || lost > 0 || !regular || now >= syncDue)) {
        flushed = SyncUnsynced(lock);
        if (abandoned) return;
    }
    if (lost > 0) {
        counts.error = std::strerror(code);
    } else if (flushed) {
        counts.error.clear();  // a good write clears it
    }
}

// To the disk, not only to the system: a power cut keeps these lines. A
// device has nothing to sync, nor has a file system that says so; either
// has taken the lines all the same. False when the flush failed (the lines
// are lost and the error says why). Called and returns with `lock` held.
bool Journal::Shared::SyncUnsynced(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t lines = unsynced;
    bool synced = true;
    int code = 0;
    if (regular) {
        lock.unlock();
        synced = Flush() == 0 || errno == EINVAL;
        code = errno;
        lock.lock();
    }
    if (abandoned) return false;  // Close() has counted these lines as lost
    unsynced -= lines;
    if (synced) {
        counts.lines += lines;
    } else {
        counts.lost += lines;
        counts.error = std::strerror(code);
    }
    return synced;
}

// Takes what fits of `events` as one batch, leaving `events` empty; those that
// do not fit are dropped and counted. True when all were taken.
bool Journal::Shared::Enqueue(std::vector<JournalEvent>& events) {
    const std::size_t total = events.size();
    std::size_t fit = 0;
    {
        std::lock_guard lock(mutex);
        if (!closed) fit = std::min(events.size(), capacity - std::min(capacity, queued));
        counts.lost += total - fit;
        if (fit > 0) {
            events.resize(fit);
            queued += fit;
            batches.push_back(std::move(events));
        }
    }
    events.clear();
    // The writer sleeps until there is work: one wake-up a batch.
    if (fit > 0) wake.notify_one();
    return fit == total;
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, std::string& error,
                                       std::size_t capacity, WriteFunction write,
                                       const std::string& program,
                                       std::chrono::milliseconds syncEvery, SyncFunction sync) {
    const int fd = OpenAppend(path);
    FileStat st{};
    if (fd < 0) {
        const int code = errno;
        // A named pipe without a reader fails to open; say what it is.
        if (StatPath(path, st) == 0 && !Accepted(TypeOf(st))) {
            error = Refusal(path, TypeOf(st));
        } else {
            error = "не удаётся открыть журнал " + path + ": " + std::strerror(code);
        }
        return nullptr;
    }
    if (StatFd(fd, st) != 0) {
        error = "не удаётся открыть журнал " + path + ": " + std::strerror(errno);
        CloseFile(fd);
        return nullptr;
    }
    if (!Accepted(TypeOf(st))) {
        error = Refusal(path, TypeOf(st));
        CloseFile(fd);
        return nullptr;
    }
    auto shared = std::make_shared<Shared>(fd, TypeOf(st) == kRegular, capacity == 0 ? 1 : capacity,
                                           std::move(write), syncEvery, std::move(sync));
    std::unique_ptr<Journal> j(new Journal(path, std::move(shared)));
    JournalEvent start;
    start.kind = Kind::Start;
    start.time = std::chrono::system_clock::now();
    start.text = program + " " + BUSDESK_VERSION;
    j->Post(std::move(start));
    return j;
}

Journal::Journal(std::string path, std::shared_ptr<Shared> shared)
    : path_(std::move(path)), shared_(std::move(shared)) {
    thread_ = std::thread(&Journal::Run, shared_);
}

Journal::Counts Journal::Close(std::chrono::milliseconds wait) {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (s.closed) return s.counts;
    s.stopping = true;
    s.closed = true;
    s.wake.notify_one();
    if (s.ended.wait_for(lock, wait, [&s] { return s.finished; })) {
        lock.unlock();
        thread_.join();
        lock.lock();
        return s.counts;
    }
    // The disk or device stopped taking writes. The writer keeps its share
    // of the state and is left to finish or block on its own; what it had
    // not written is lost.
    s.abandoned = true;
    s.counts.lost += s.queued + s.writing + s.unsynced;
    s.unsynced = 0;
    s.batches.clear();
    s.queued = 0;
    s.counts.error = "запись не закончилась за " + std::to_string(wait.count()) + " мс";
    thread_.detach();
    return s.counts;
}

Journal::~Journal() {
    Close();
}

bool Journal::Post(JournalEvent event) {
    std::vector<JournalEvent> one;
    one.push_back(std::move(event));
    return shared_->Enqueue(one);
}

void Journal::PostAll(std::vector<JournalEvent>& events) {
    if (!events.empty()) shared_->Enqueue(events);
}

Journal::Counts Journal::Stats() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->counts;
}

void Journal::Run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    const auto ready = [&s] { return s.stopping || !s.batches.empty(); };
    for (;;) {
        // Asleep until there is work; only lines waiting for the disk set
        // a time to wake.
        if (s.unsynced == 0) {
            s.wake.wait(lock, ready);
        } else if (!s.wake.wait_until(lock, s.syncDue, ready)) {
            s.SyncUnsynced(lock);
            if (s.abandoned) break;
            continue;
        }
        if (s.abandoned || s.batches.empty()) break;  // given up on, or all written
        std::vector<JournalEvent> batch = std::move(s.batches.front());
        s.batches.pop_front();
        s.queued -= batch.size();
        s.WriteBatch(lock, std::move(batch));
        if (s.abandoned) break;
    }
    if (!s.abandoned && s.unsynced > 0) s.SyncUnsynced(lock);
    CloseFile(s.fd);
    s.finished = true;
    s.ended.notify_all();
}

}  // namespace busdesk::engine
