#include "engine/journal.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "engine/line_frames.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace busdesk::engine {

namespace {

using Kind = JournalEvent::Kind;

#ifdef _WIN32
int OpenAppend(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
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
int OpenAppend(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
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

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t SecondsOf(const std::tm& t) {
    return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                         static_cast<unsigned>(t.tm_mday)) *
               86400 +
           t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

void JsonString(std::string& out, const std::string& s) {
    out += '"';
    for (const char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            std::array<char, 8> buf{};
            std::snprintf(buf.data(), buf.size(), "\\u%04x", u);
            out += buf.data();
        } else {
            out += ch;
        }
    }
    out += '"';
}

void Field(std::string& out, const char* key, const std::string& value) {
    out += ",\"";
    out += key;
    out += "\":";
    JsonString(out, value);
}

void Number(std::string& out, const char* key, std::uint64_t value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

void Flag(std::string& out, const char* key, bool value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += value ? "true" : "false";
}

void Reception(std::string& out, const JournalEvent& e) {
    const Bytes& rx = e.bytes;
    if (IsFramedReply(rx)) {
        Number(out, "addr", rx[1]);
        Field(out, "code", Hex2({rx[2]}));
        const std::string meaning = ReplyMeaning(rx[2]);
        Field(out, "meaning", meaning.empty() ? "неизвестный код" : meaning);
        Flag(out, "crc", CrcGood(rx));
    } else if (e.ok) {
        Field(out, "meaning", "ответ на опрос сети");
        out += ",\"addresses\":[";
        for (std::size_t i = 0; i < rx.size(); ++i) {
            if (i > 0) out += ',';
            out += std::to_string(rx[i]);
        }
        out += ']';
    } else {
        Field(out, "meaning", "не ответ устройства");
    }
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
    std::tm local{};
    std::tm utc{};
#ifdef _WIN32
    localtime_s(&local, &secs);
    gmtime_s(&utc, &secs);
#else
    localtime_r(&secs, &local);
    gmtime_r(&secs, &utc);
#endif
    const std::int64_t offset = (SecondsOf(local) - SecondsOf(utc)) / 60;
    const std::int64_t a = offset < 0 ? -offset : offset;
    std::array<char, 48> buf{};
    std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, frac, offset < 0 ? '-' : '+',
                  static_cast<int>(a / 60), static_cast<int>(a % 60));
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
    std::string out = "{\"t\":\"" + IsoTime(e.time) + "\",\"ev\":";
    switch (e.kind) {
        case Kind::Start:
            out += "\"start\"";
            Field(out, "program", e.text);
            break;
        case Kind::Open:
            out += "\"open\"";
            Field(out, "port", e.text);
            Flag(out, "ok", e.ok);
            if (!e.reason.empty()) Field(out, "reason", e.reason);
            break;
        case Kind::Close:
            out += "\"close\"";
            break;
        case Kind::Tx: {
            out += "\"tx\"";
            const Bytes& f = e.bytes;
            if (f.size() >= 2) Number(out, "addr", f[1]);
            if (f.size() > 3 && !IsSurveyRequest(f)) Field(out, "code", Hex2({f[2]}));
            const std::string meaning = RequestMeaning(f);
            Field(out, "meaning", meaning.empty() ? "неизвестная команда" : meaning);
            break;
        }
        case Kind::Rx:
            out += "\"rx\"";
            Reception(out, e);
            break;
        case Kind::Silent:
            out += "\"silent\"";
            Field(out, "meaning", "нет ответа");
            break;
        case Kind::WriteFailed:
            out += "\"write_error\"";
            Field(out, "meaning", "ошибка записи в порт");
            break;
        case Kind::Command: {
            out += "\"command\"";
            Number(out, "id", e.id);
            const CommandText c = DescribeCommand(e.bytes);
            Field(out, "what", c.what);
            if (e.bytes.size() >= 2) Number(out, "addr", e.bytes[1]);
            out += ",\"values\":{" + c.values + "}";
            Field(out, "text", c.text);
            break;
        }
        case Kind::Result:
            out += "\"result\"";
            Number(out, "id", e.id);
            Flag(out, "confirmed", e.ok);
            if (!e.text.empty()) Field(out, "reason", e.text);
            break;
    }
    if (!e.bytes.empty() && e.kind != Kind::Start) Field(out, "hex", Hex2(e.bytes));
    out += '}';
    return out;
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, std::string& error,
                                       std::size_t capacity) {
    const int fd = OpenAppend(path);
    if (fd < 0) {
        error = "не удаётся открыть журнал " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<Journal> j(new Journal(path, fd, capacity == 0 ? 1 : capacity));
    JournalEvent start;
    start.kind = Kind::Start;
    start.time = std::chrono::system_clock::now();
    start.text = std::string("busdesk ") + BUSDESK_VERSION;
    j->Post(std::move(start));
    return j;
}

Journal::Journal(std::string path, int fd, std::size_t capacity)
    : path_(std::move(path)), fd_(fd), capacity_(capacity) {
    thread_ = std::thread([this] { Run(); });
}

Journal::Counts Journal::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return counts_;
        stopping_ = true;
        closed_ = true;
    }
    wake_.notify_one();
    thread_.join();
    CloseFile(fd_);
    return Stats();
}

Journal::~Journal() {
    Close();
}

bool Journal::Post(JournalEvent event) {
    bool filling = false;
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= capacity_) {
            ++counts_.lost;
            return false;
        }
        queue_.push_back(std::move(event));
        filling = queue_.size() >= capacity_ / 2;
    }
    // Waking the writer costs a system call, more than the rest of a tick;
    // it looks by itself every kLatency, and is woken only when a burst fills
    // the queue.
    if (filling) wake_.notify_one();
    return true;
}

void Journal::PostAll(std::vector<JournalEvent>& events) {
    bool filling = false;
    {
        std::lock_guard lock(mutex_);
        for (JournalEvent& e : events) {
            if (queue_.size() >= capacity_) {
                ++counts_.lost;
                continue;
            }
            queue_.push_back(std::move(e));
        }
        filling = queue_.size() >= capacity_ / 2;
    }
    events.clear();
    if (filling) wake_.notify_one();
}

Journal::Counts Journal::Stats() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

bool Journal::WriteLine(const std::string& line) {
    std::string out;
    // A line that went out only in part is ended first, so the next one
    // starts a line of its own and a reader skips just the broken one.
    if (torn_) out += '\n';
    out += line;
    out += '\n';
    std::size_t done = 0;
    while (done < out.size()) {
        const long n = WriteSome(fd_, out.data() + done, out.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            torn_ = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
    torn_ = false;
    // To the disk, not only to the system: a power cut keeps the line. A
    // device or pipe that cannot be synced has taken the line all the same.
    return Sync(fd_) == 0 || errno == EINVAL;
}

void Journal::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kLatency, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty() && !stopping_) continue;
        if (queue_.empty()) return;  // stopping, and everything is written
        JournalEvent e = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const std::string line = Format(e);
        const bool ok = WriteLine(line);
        const int code = errno;
        lock.lock();
        if (ok) {
            counts_.lines +=
                1 + static_cast<std::uint64_t>(std::count(line.begin(), line.end(), '\n'));
            counts_.error.clear();
        } else {
            ++counts_.lost;
            counts_.error = std::strerror(code);
        }
    }
}

}  // namespace busdesk::engine
