// The serial link over a pseudo-terminal: how long a read on a silent line
// takes (the 256 ms total time-out), and the round trip of one 22-byte frame
// to a device that answers at once (the 20 ms gap ends the read).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/dialogs.h"
#include "link/posix_port.h"

namespace busdesk {
namespace {

class NoDialogs : public Dialogs {
  public:
    MsgResult MsgBox(const std::string& text, MsgButtons, MsgIcon, const std::string&) override {
        last = text;
        return MsgResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
    std::string last;
};

// A pty whose master side echoes everything, as a device that answers at once.
class EchoLine {
  public:
    EchoLine() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) == 0) path = name;
        // Held open so the master never reads as hung up between opens.
        slave_ = ::open(name, O_RDWR | O_NOCTTY);
    }
    ~EchoLine() {
        Stop();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    EchoLine(const EchoLine&) = delete;
    EchoLine& operator=(const EchoLine&) = delete;

    void StartEcho() {
        echo_ = std::thread([this] {
            unsigned char buf[512];
            while (!stop_) {
                pollfd p{master_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0 && ::write(master_, buf, static_cast<std::size_t>(n)) != n) return;
            }
        });
    }
    void Stop() {
        stop_ = true;
        if (echo_.joinable()) echo_.join();
    }

    std::string path;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    std::thread echo_;
};

bool OpenOn(const EchoLine& line, std::unique_ptr<PosixSerialPort>& port, NoDialogs& dialogs,
            PortMap& map, benchmark::State& state) {
    if (line.path.empty() || !map.Map("COM1:", line.path)) {
        state.SkipWithError("no pty");
        return false;
    }
    port = std::make_unique<PosixSerialPort>(dialogs, map);
    if (!port->OpenPort("COM1:", "19200,n,8,1")) {
        state.SkipWithError(dialogs.last.c_str());
        return false;
    }
    return true;
}

void BM_SilentRead(benchmark::State& state) {
    EchoLine line;
    NoDialogs dialogs;
    PortMap map;
    std::unique_ptr<PosixSerialPort> port;
    if (OpenOn(line, port, dialogs, map, state)) {
        for (auto _ : state) {
            const Bytes got = port->ReadPort();
            if (!got.empty()) state.SkipWithError("the silent line sent something");
            benchmark::DoNotOptimize(got.data());
        }
    }
}
BENCHMARK(BM_SilentRead)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_RoundTrip22(benchmark::State& state) {
    EchoLine line;
    NoDialogs dialogs;
    PortMap map;
    std::unique_ptr<PosixSerialPort> port;
    if (OpenOn(line, port, dialogs, map, state)) {
        line.StartEcho();
        Bytes frame(22);
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 37);
        for (auto _ : state) {
            if (port->WritePort(frame) != 22) state.SkipWithError("short write");
            Bytes got;
            while (got.size() < frame.size()) {
                const Bytes piece = port->ReadPort();
                if (piece.empty()) break;
                got.insert(got.end(), piece.begin(), piece.end());
            }
            if (got != frame) state.SkipWithError("the echo came back different");
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 44);
        line.Stop();
    }
}
BENCHMARK(BM_RoundTrip22)->UseRealTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace busdesk

BENCHMARK_MAIN();
