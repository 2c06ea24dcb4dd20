#include "link/posix_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/open_reason.h"
#include "link/pty_line.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {
namespace {

const char* const kSettings = "19200,n,8,1";
const std::string kUnavailable = "Com Port COM1: недоступен. Установите нужный порт.";

Bytes Sequence(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return b;
}

// The lowest free descriptor number: a descriptor leaked by a failed open
// would take it.
int LowestFreeFd() {
    const int fd = ::open("/dev/null", O_RDONLY);
    ::close(fd);
    return fd;
}

class CountingPort : public PosixSerialPort {
  public:
    using PosixSerialPort::PosixSerialPort;
    void FlushPort() override {
        ++flushes;
        PosixSerialPort::FlushPort();
    }
    int flushes = 0;
};

class PosixPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(line.Ok());
        ASSERT_TRUE(ports.Map("COM1:", line.path));
        port = std::make_unique<CountingPort>(dialogs, ports);
    }
    // The port takes its map when made.
    void Remap(const std::string& name, const std::string& path) {
        ASSERT_TRUE(ports.Map(name, path));
        port = std::make_unique<CountingPort>(dialogs, ports);
    }
    bool Open(const std::string& settings = kSettings) { return port->OpenPort("COM1:", settings); }
    // Reads until `count` bytes came or a read came back empty.
    Bytes ReadAll(std::size_t count) {
        Bytes all;
        while (all.size() < count) {
            const Bytes piece = port->ReadPort();
            if (piece.empty()) break;
            EXPECT_LE(piece.size(), 255U);
            all.insert(all.end(), piece.begin(), piece.end());
        }
        return all;
    }

    PtyLine line;
    PortMap ports;
    ScriptedDialogs dialogs;
    std::unique_ptr<CountingPort> port;
};

TEST_F(PosixPort, OpensSilentlyAndClosesOnce) {
    ASSERT_TRUE(Open());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(port->ClosePort(), 1);
    EXPECT_EQ(port->ClosePort(), 0);
}

#ifdef TIOCGEXCL
// Root passes TIOCEXCL, so only the flag itself shows it; it must not outlive
// the port, or a user could never open the line again.
TEST_F(PosixPort, TheLineIsExclusiveOnlyWhileOpen) {
    const auto exclusive = [this] {
        int excl = -1;
        EXPECT_EQ(::ioctl(line.slave, TIOCGEXCL, &excl), 0);
        return excl != 0;
    };
    ASSERT_TRUE(Open());
    EXPECT_TRUE(exclusive());
    port->ClosePort();
    EXPECT_FALSE(exclusive());
    EXPECT_FALSE(Open("19200,n,8,1.5"));  // fails after TIOCEXCL
    EXPECT_FALSE(exclusive());
}
#endif

TEST(ModeString, LineSettings) {
    struct Row {
        const char* settings;
        speed_t speed;
        tcflag_t size;
        tcflag_t parity;  // PARENB | PARODD | CMSPAR as set
        bool twoStop;
    };
    const Row rows[] = {
        {"19200,n,8,1", B19200, CS8, 0, false},
        {"19200,N,8,1", B19200, CS8, 0, false},
        {"9600,e,7,1", B9600, CS7, PARENB, false},
        {"115200,o,8,2", B115200, CS8, PARENB | PARODD, true},
        {"96,n,8,1", B9600, CS8, 0, false},
        {"19,n,8,1", B19200, CS8, 0, false},
        {"19200", B19200, CS8, 0, false},
        {"1200, e, 6", B1200, CS6, PARENB, false},
        {"110,n,5,1.5", B110, CS5, 0, true},
        {"19200,m,8,1", B19200, CS8, PARENB | PARODD | CMSPAR, false},
        {"19200,s,8,1", B19200, CS8, PARENB | CMSPAR, false},
    };
    for (const Row& row : rows) {
        const std::optional<LineSettings> line = ParseModeString(row.settings);
        ASSERT_TRUE(line.has_value()) << row.settings;
        // Start from a cooked line with every kind of flow control on.
        termios t{};
        t.c_iflag = ICRNL | IXON | IXOFF | IXANY | ISTRIP | INPCK;
        t.c_oflag = OPOST | ONLCR;
        t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        t.c_cflag = CRTSCTS | CS7 | PARENB | PARODD | CSTOPB | HUPCL;
        ASSERT_TRUE(BuildTermios(*line, t)) << row.settings;
        EXPECT_EQ(cfgetospeed(&t), row.speed) << row.settings;
        EXPECT_EQ(cfgetispeed(&t), row.speed) << row.settings;
        EXPECT_EQ(t.c_cflag & CSIZE, row.size) << row.settings;
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), row.parity) << row.settings;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, row.twoStop) << row.settings;
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0U) << row.settings;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0U);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U) << row.settings;
        EXPECT_EQ(t.c_oflag & OPOST, 0U) << row.settings;
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD) << row.settings;
        EXPECT_EQ(t.c_cc[VMIN], 0) << row.settings;
        EXPECT_EQ(t.c_cc[VTIME], 0) << row.settings;
    }
}

TEST_F(PosixPort, TheLineRunsAsAskedOrTheOpenFails) {
    // A pty keeps only 8 data bits without parity: there the other settings
    // must be refused, not quietly run in another framing.
    for (const char* settings : {"19200,n,8,1", "115200,n,8,2", "9600,e,7,1", "19200,o,8,1"}) {
        dialogs.messages.clear();
        const bool opened = Open(settings);
        if (opened) {
            termios got{};
            ASSERT_EQ(::tcgetattr(line.slave, &got), 0);
            termios wanted = got;
            ASSERT_TRUE(BuildTermios(*ParseModeString(settings), wanted));
            EXPECT_EQ(got.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS),
                      wanted.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS))
                << settings;
            EXPECT_EQ(cfgetospeed(&got), cfgetospeed(&wanted)) << settings;
            EXPECT_EQ(got.c_lflag & (ICANON | ECHO), 0U) << settings;
            EXPECT_TRUE(dialogs.messages.empty()) << settings;
            EXPECT_EQ(port->ClosePort(), 1);
        } else {
            ASSERT_EQ(dialogs.messages.size(), 1U) << settings;
            EXPECT_EQ(dialogs.messages[0].text,
                      std::string("Unable to set Comm DCB ") + settings + " Error: 22");
        }
    }
    // The settings of the tool itself must work on any line.
    EXPECT_TRUE(Open());
}

TEST_F(PosixPort, BadSettingsAreRefusedAndLeaveNothingOpen) {
    struct Row {
        const char* settings;
        const char* message;
    };
    const Row rows[] = {
        {"", "Unable to build Comm DCB  Error: 22"},
        {"abc", "Unable to build Comm DCB abc Error: 22"},
        {"0,n,8,1", "Unable to build Comm DCB 0,n,8,1 Error: 22"},
        {"-19200,n,8,1", "Unable to build Comm DCB -19200,n,8,1 Error: 22"},
        {"19200,x,8,1", "Unable to build Comm DCB 19200,x,8,1 Error: 22"},
        {"19200,,8,1", "Unable to build Comm DCB 19200,,8,1 Error: 22"},
        {"19200,n,9,1", "Unable to build Comm DCB 19200,n,9,1 Error: 22"},
        {"19200,n,4,1", "Unable to build Comm DCB 19200,n,4,1 Error: 22"},
        {"19200,n,8,3", "Unable to build Comm DCB 19200,n,8,3 Error: 22"},
        {"19200,n,8,1,p", "Unable to build Comm DCB 19200,n,8,1,p Error: 22"},
        // Well formed, but no line runs that way.
        {"12345,n,8,1", "Unable to set Comm DCB 12345,n,8,1 Error: 22"},
        {"19200,n,8,1.5", "Unable to set Comm DCB 19200,n,8,1.5 Error: 22"},
        {"19200,n,5,2", "Unable to set Comm DCB 19200,n,5,2 Error: 22"},
    };
    const int freeFd = LowestFreeFd();
    for (const Row& row : rows) {
        dialogs.messages.clear();
        EXPECT_FALSE(Open(row.settings)) << row.settings;
        ASSERT_EQ(dialogs.messages.size(), 1U) << row.settings;
        EXPECT_EQ(dialogs.messages[0].text, row.message);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::None);
        EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
        EXPECT_EQ(dialogs.messages[0].caption, "BusDesk");
        EXPECT_EQ(LowestFreeFd(), freeFd) << row.settings;
        EXPECT_EQ(port->ClosePort(), 0) << row.settings;
    }
    // Nor is the line still locked.
    dialogs.messages.clear();
    EXPECT_TRUE(Open());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PosixPort, EveryByteValuePassesBothWays) {
    ASSERT_TRUE(Open());
    const Bytes all = [] {
        Bytes b;
        for (int v = 0; v < 256; ++v) b.push_back(static_cast<std::uint8_t>(v));
        return b;
    }();
    // In two receptions: a read that comes back full drops the rest.
    for (std::size_t at = 0; at < all.size(); at += 128) {
        const Bytes half(all.begin() + static_cast<std::ptrdiff_t>(at),
                         all.begin() + static_cast<std::ptrdiff_t>(at + 128));
        line.Send(half);
        EXPECT_EQ(ReadAll(half.size()), half);
    }
    EXPECT_EQ(port->WritePort(all), 256);
    EXPECT_EQ(line.Receive(all.size()), all);
}

TEST_F(PosixPort, WritesReportTheirCountAndSendExactlyTheBytes) {
    ASSERT_TRUE(Open());
    for (const std::size_t size : {0U, 1U, 4U, 22U, 255U, 256U, 511U, 700U}) {
        const Bytes data = Sequence(size);
        EXPECT_EQ(port->WritePort(data), static_cast<std::int16_t>(size)) << size;
        EXPECT_EQ(line.Receive(size, 300), data) << size;
    }
}

TEST_F(PosixPort, AGapOfMoreThan20msSplitsAReply) {
    ASSERT_TRUE(Open());
    std::thread device([this] {
        line.Send({0x3E, 0x01, 0x0D});
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        line.Send({0x0A, 0x00, 0xFF});
    });
    const Bytes first = port->ReadPort();
    const Bytes second = port->ReadPort();
    device.join();
    EXPECT_EQ(first, (Bytes{0x3E, 0x01, 0x0D}));
    EXPECT_EQ(second, (Bytes{0x0A, 0x00, 0xFF}));
}

TEST_F(PosixPort, AFullReadDropsTheBacklogAndCountsIt) {
    ASSERT_TRUE(Open());
    line.Send({0x3E, 0x05, 0xF0});
    EXPECT_EQ(port->ReadPort(), (Bytes{0x3E, 0x05, 0xF0}));
    EXPECT_EQ(port->DiscardedBytes(), 0U);

    const Bytes flood = Sequence(700);
    line.Send(flood);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all of it queued
    EXPECT_EQ(port->ReadPort(), Bytes(flood.begin(), flood.begin() + 255));
    EXPECT_EQ(port->DiscardedBytes(), 445U);
    EXPECT_TRUE(port->ReadPort().empty());
    // The line goes on as before.
    line.Send({0x3E, 0x01, 0x0D});
    EXPECT_EQ(port->ReadPort(), (Bytes{0x3E, 0x01, 0x0D}));
    EXPECT_EQ(port->DiscardedBytes(), 445U);
}

// A tick reads what came since the last one, then writes the next request.
// After a burst far beyond what a tick reads, the answer to the first request
// sent once the burst is over is read in the tick after, not when the backlog
// has trickled through at 255 bytes a tick.
TEST_F(PosixPort, AfterA64KBBurstTheNextReplyIsReadWithinTwoTicks) {
    ASSERT_TRUE(Open());
    const Bytes request{0x31, 0x05, 0xF0, 0x9C};
    const Bytes reply{0x3E, 0x05, 0xF0, 0x01, 0x17, 0x42};
    std::atomic<bool> burstOver{false};
    std::thread device([&] {
        line.Send(Sequence(64 * 1024));  // blocks while the line's buffer is full
        burstOver = true;
        if (line.Receive(request.size(), 3000) == request) line.Send(reply);
    });
    int ticksAfter = 0;
    bool answered = false;
    for (int tick = 0; tick < 2000 && ticksAfter < 3 && !answered; ++tick) {
        const bool over = burstOver;
        const Bytes rx = port->ReadPort();
        if (!over) continue;
        ++ticksAfter;
        answered = rx == reply;
        if (!answered) {
            EXPECT_EQ(port->WritePort(request), 4);
            // The rest of the tick: time for the device to answer.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    while (!burstOver) ::tcflush(line.slave, TCIFLUSH);  // never leave the device stuck
    device.join();
    EXPECT_TRUE(answered);
    EXPECT_LE(ticksAfter, 2);
    EXPECT_GT(port->DiscardedBytes(), 0U);
}

TEST_F(PosixPort, SilentReadIsEmptyAndFlushesButFlushKeepsInput) {
    ASSERT_TRUE(Open());
    EXPECT_TRUE(port->ReadPort().empty());
    EXPECT_EQ(port->flushes, 1);

    line.Send({0x31, 0x05});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port->FlushPort();
    EXPECT_EQ(port->ReadPort(), (Bytes{0x31, 0x05}));
    EXPECT_EQ(port->flushes, 2);  // the explicit one only
}

TEST_F(PosixPort, ASecondOpenerIsRefused) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(ports.Map("COM2:", line.path));
    ScriptedDialogs otherDialogs;
    PosixSerialPort other(otherDialogs, ports);
    for (const char* name : {"COM1:", "COM2:"}) {
        otherDialogs.messages.clear();
        EXPECT_FALSE(other.OpenPort(name, kSettings)) << name;
        ASSERT_EQ(otherDialogs.messages.size(), 1U) << name;
        EXPECT_EQ(otherDialogs.messages[0].text,
                  std::string("Com Port ") + name + " недоступен. Установите нужный порт.");
        EXPECT_EQ(otherDialogs.messages[0].icon, MsgIcon::Warning);
        EXPECT_EQ(otherDialogs.messages[0].caption, "BusDesk");
    }
    // The first holder is undisturbed, and the line is free once it lets go.
    line.Send({0x42});
    EXPECT_EQ(port->ReadPort(), Bytes{0x42});
    EXPECT_EQ(port->ClosePort(), 1);
    EXPECT_TRUE(other.OpenPort("COM1:", kSettings));
}

TEST_F(PosixPort, MissingDevicesShowOneMessageAndSayWhy) {
    const std::string missing = "/tmp/busdesk-no-such-tty-" + std::to_string(::getpid());
    Remap("COM3:", missing);
    std::map<std::string, std::string> notices;
    PosixPortOptions options;
    options.discover = [] {
        SerialDevice d;
        d.path = d.node = "/dev/ttyS0";
        d.kind = SerialDevice::Kind::Uart;
        return std::vector<SerialDevice>{d};
    };
    options.notice = [&](const std::string& path, const std::string& text) {
        notices[path] = text;
    };
    port = std::make_unique<CountingPort>(dialogs, ports, options);
    struct Row {
        const char* name;
        std::string message;
        std::string reason;
    };
    const Row rows[] = {
        {"COM3:", "Com Port COM3: недоступен. Установите нужный порт.",
         "нет такого устройства " + missing + " (" + ErrnoText(ENOENT) + ")"},
        {"COM2:", "Com Port COM2: недоступен. Установите нужный порт.",
         "нет такого устройства за COM2: (последовательных портов найдено: 1)"},
        {"LPT1:", "Com Port LPT1: недоступен. Установите нужный порт.",
         "нет такого устройства LPT1: (имя порта — от COM1: до COM9:)"},
        {"COM0:", "Com Port COM0: недоступен. Установите нужный порт.",
         "нет такого устройства COM0: (имя порта — от COM1: до COM9:)"},
        {"", "Com Port  недоступен. Установите нужный порт.",
         "нет такого устройства  (имя порта — от COM1: до COM9:)"},
    };
    const int freeFd = LowestFreeFd();
    for (const Row& row : rows) {
        dialogs.messages.clear();
        EXPECT_FALSE(port->OpenPort(row.name, kSettings)) << row.name;
        ASSERT_EQ(dialogs.messages.size(), 1U) << row.name;
        EXPECT_EQ(dialogs.messages[0].text, row.message);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Warning);
        EXPECT_EQ(dialogs.messages[0].caption, "BusDesk");
        EXPECT_EQ(port->OpenError(), row.reason) << row.name;
    }
    // The port list's tool tip hears it under the path its entry opens.
    EXPECT_EQ(notices[missing], rows[0].reason);
    EXPECT_EQ(LowestFreeFd(), freeFd);
    EXPECT_NE(::access(missing.c_str(), F_OK), 0) << "the open created the path";
    // An open that works forgets the last failure.
    ASSERT_TRUE(port->OpenPort("COM1:", kSettings));
    EXPECT_EQ(port->OpenError(), "");
}

TEST_F(PosixPort, ThingsThatAreNotTerminalsAreRefused) {
    char file[] = "/tmp/busdesk-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const int freeFd = LowestFreeFd();
    for (const char* path : {static_cast<const char*>(file), "/dev/null"}) {
        Remap("COM1:", path);
        dialogs.messages.clear();
        EXPECT_FALSE(Open()) << path;
        ASSERT_EQ(dialogs.messages.size(), 1U) << path;
        EXPECT_EQ(dialogs.messages[0].text, "Unable to set timeouts for port COM1: Error: 25");
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::None);
        EXPECT_EQ(port->OpenError(),
                  std::string(path) + " — не последовательный порт (" + ErrnoText(ENOTTY) + ")");
        EXPECT_EQ(LowestFreeFd(), freeFd) << path;
        EXPECT_TRUE(port->ReadPort().empty());
        EXPECT_EQ(port->WritePort({1, 2}), 0);
    }
    ::unlink(file);
}

TEST_F(PosixPort, AHungUpLineNeitherBlocksNorSpins) {
    ASSERT_TRUE(Open());
    line.CloseSlave();
    line.CloseMaster();
    // A read that spun or blocked would never get through this loop; the
    // test's time-out catches it.
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(port->ReadPort().empty());
    }
    EXPECT_LT(port->WritePort({0x31, 0x01, 0xF0, 0x55}), 4);
    EXPECT_EQ(port->flushes, 20);
}

// The line monitor's wait: it ends when a byte is waiting (taking none of it),
// when it is woken, and at once on a line that hung up. A wait that missed
// any of these would block here for its whole minute.
TEST_F(PosixPort, AWaitEndsOnABytePromptlyWhenWokenAndOnAHangUp) {
    using std::chrono::milliseconds;
    const milliseconds minute(60'000);
    ASSERT_TRUE(Open());
    WakeSignal wake;
    wake.Raise();
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(false));
    wake.Clear();
    EXPECT_EQ(port->WaitReadable(milliseconds(0), wake), std::optional<bool>(false));

    std::thread waker([&] {
        std::this_thread::sleep_for(milliseconds(20));
        wake.Raise();
    });
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(false));
    waker.join();
    wake.Clear();

    std::thread device([&] {
        std::this_thread::sleep_for(milliseconds(20));
        line.Send({0x42});
    });
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(true));
    device.join();
    EXPECT_EQ(port->ReadPort(), Bytes({0x42}));  // nothing was taken

    line.CloseSlave();
    line.CloseMaster();
    EXPECT_TRUE(port->WaitReadable(minute, wake).has_value());
    port->ClosePort();
    EXPECT_EQ(port->WaitReadable(minute, wake), std::optional<bool>(false));
}

TEST_F(PosixPort, AWriteToALineThatTakesNothingComesUpShort) {
    ASSERT_TRUE(Open());
    // Nobody reads the master: the pty's buffers fill, and then a write must
    // give up after its time-out with what it got rid of.
    const Bytes frame = Sequence(255);
    bool shortWrite = false;
    for (int i = 0; i < 4000 && !shortWrite; ++i) shortWrite = port->WritePort(frame) < 255;
    EXPECT_TRUE(shortWrite);
}

// The failure box comes while the line is still held, and the line is let go
// after it, whichever step failed.
TEST_F(PosixPort, FailureBoxesComeBeforeTheClose) {
    struct Row {
        const char* path;  // nullptr: the pty
        const char* settings;
        const char* message;
        std::string reason;  // after the path
    };
    const Row rows[] = {
        {nullptr, "abc", "Unable to build Comm DCB abc Error: 22",
         " не принимает настройки abc (" + ErrnoText(EINVAL) + ")"},
        {nullptr, "12345,n,8,1", "Unable to set Comm DCB 12345,n,8,1 Error: 22",
         " не принимает настройки 12345,n,8,1 (" + ErrnoText(EINVAL) + ")"},
        {"/dev/null", kSettings, "Unable to set timeouts for port COM1: Error: 25",
         " — не последовательный порт (" + ErrnoText(ENOTTY) + ")"},
    };
    for (const Row& row : rows) {
        if (row.path != nullptr) Remap("COM1:", row.path);
        const int freeFd = LowestFreeFd();
        bool heldDuringBox = false;
        dialogs.messages.clear();
        dialogs.onMessage = [&] { heldDuringBox = LowestFreeFd() != freeFd; };
        EXPECT_FALSE(Open(row.settings)) << row.message;
        ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{row.message});
        EXPECT_TRUE(heldDuringBox) << row.message;
        EXPECT_EQ(LowestFreeFd(), freeFd) << row.message;
        EXPECT_EQ(port->OpenError(), (row.path != nullptr ? row.path : line.path) + row.reason);
    }
}

TEST_F(PosixPort, UnmappedNamesOpenWhatDiscoveryFindsAtEachOpen) {
    PtyLine second;
    ASSERT_TRUE(second.Ok());
    std::vector<SerialDevice> present;
    int asked = 0;
    PosixPortOptions options;
    options.discover = [&] {
        ++asked;
        return present;
    };
    const auto device = [](const PtyLine& l, SerialDevice::Kind kind, const std::string& byId) {
        SerialDevice d;
        d.kind = kind;
        d.node = l.path;
        d.path = byId.empty() ? l.path : byId;
        d.byId = byId;
        return d;
    };
    PortMap mapped;
    ASSERT_TRUE(mapped.Map("COM3:", second.path));
    PosixSerialPort found(dialogs, mapped, options);

    // Nothing plugged in: COM1: is not there.
    EXPECT_FALSE(found.OpenPort("COM1:", kSettings));
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{kUnavailable});
    // A UART appears: COM1: is it.
    present = {device(line, SerialDevice::Kind::Uart, "")};
    ASSERT_TRUE(found.OpenPort("COM1:", kSettings));
    line.Send({0x11});
    EXPECT_EQ(found.ReadPort(), Bytes{0x11});
    found.ClosePort();
    // An adapter is plugged in as well: it goes first, the UART moves to COM2:.
    present.push_back(device(second, SerialDevice::Kind::Adapter, second.path));
    ASSERT_TRUE(found.OpenPort("COM2:", kSettings));
    line.Send({0x22});
    EXPECT_EQ(found.ReadPort(), Bytes{0x22});
    found.ClosePort();
    EXPECT_EQ(asked, 3);
    // A mapping wins and needs no discovery.
    ASSERT_TRUE(found.OpenPort("COM3:", kSettings));
    second.Send({0x33});
    EXPECT_EQ(found.ReadPort(), Bytes{0x33});
    EXPECT_EQ(asked, 3);
}

// A pty has no RS-485 mode: the refusal is said, and the port stays usable.
TEST_F(PosixPort, ARefusedRs485SwitchIsSaidAndTheLineStillOpens) {
    std::vector<std::pair<std::string, std::string>> notices;
    PosixPortOptions options;
    options.rs485 = true;
    options.notice = [&](const std::string& path, const std::string& text) {
        notices.emplace_back(path, text);
    };
    PosixSerialPort rs485(dialogs, ports, options);
    ASSERT_TRUE(rs485.OpenPort("COM1:", kSettings));
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(notices[0].first, line.path);
    EXPECT_EQ(notices[0].second, Rs485RefusedText(line.path, ENOTTY));
    EXPECT_EQ(rs485.WritePort({0x31, 0x00}), 2);
    EXPECT_EQ(line.Receive(2), (Bytes{0x31, 0x00}));

    // Without the option nothing is tried and nothing said.
    notices.clear();
    options.rs485 = false;
    rs485.ClosePort();
    PosixSerialPort plain(dialogs, ports, options);
    ASSERT_TRUE(plain.OpenPort("COM1:", kSettings));
    EXPECT_TRUE(notices.empty());
}

// A user outside the group that owns the line gets the window's box and, on
// standard error and from OpenError(), what to do about it. The pty is
// root's: run as nobody.
TEST_F(PosixPort, ALineWithoutPermissionSaysWhy) {
    ASSERT_EQ(::chmod(line.path.c_str(), 0600), 0);
    const std::string path = line.path;
    const std::string why = "нет доступа к " + path + " (" + ErrnoText(EACCES) +
                            "): добавьте себя в группу dialout: sudo adduser $USER dialout и "
                            "войдите заново";
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
            ScriptedDialogs d;
            PortMap m;
            m.Map("COM1:", path);
            PosixSerialPort p(d, m);
            const bool opened = p.OpenPort("COM1:", kSettings);
            if (opened || d.Texts() != std::vector<std::string>{kUnavailable}) std::_Exit(1);
            std::_Exit(p.OpenError() == why ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "нет доступа к " + path + ": .*dialout и войдите заново");
}

// Another program holding the line with flock() (a second instance of the
// tool) is named by its PID, from /proc/locks.
TEST_F(PosixPort, ALineLockedByAnotherProcessNamesItsPid) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(line.path.c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        std::_Exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, 'y');
    EXPECT_FALSE(Open());
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{kUnavailable});
    EXPECT_EQ(port->OpenError(), "порт " + line.path + " занят другой программой (PID " +
                                     std::to_string(holder) + "): " + ErrnoText(EWOULDBLOCK));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Let go, the line opens and the reason is gone.
    EXPECT_TRUE(Open());
    EXPECT_EQ(port->OpenError(), "");
}

// A program that holds the line with TIOCEXCL alone turns every other user
// away with EBUSY (root passes, so the opener runs as nobody).
TEST_F(PosixPort, ALineHeldExclusiveIsBusy) {
    ASSERT_EQ(::ioctl(line.slave, TIOCEXCL), 0);
    ASSERT_EQ(::chmod(line.path.c_str(), 0666), 0);
    const std::string path = line.path;
    const bool root = ::geteuid() == 0;
    // Only processes of the same user can be looked into for the holder.
    const std::string held = root ? "порт " + path + " занят другой программой: "
                                  : "порт " + path + " занят другой программой (PID " +
                                        std::to_string(::getpid()) + "): ";
    EXPECT_EXIT(
        {
            if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
            ScriptedDialogs d;
            PortMap m;
            m.Map("COM1:", path);
            PosixSerialPort p(d, m);
            if (p.OpenPort("COM1:", kSettings)) std::_Exit(1);
            std::_Exit(p.OpenError() == held + ErrnoText(EBUSY) ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "занят другой программой");
}

// The gap that ends a reception is 20 ms: bytes 10 ms apart are one reply,
// two bytes 40 ms apart two. A trial whose sender was held up past its gap by the
// scheduler says nothing either way and is run again.
TEST_F(PosixPort, TheGapThatEndsAReceptionLiesBetween10And40ms) {
    ASSERT_TRUE(Open());
    using Clock = std::chrono::steady_clock;
    struct Row {
        int gapMs;
        std::uint8_t bytes;
        std::size_t reads;  // receptions they make
    };
    for (const Row row : {Row{10, 4, 1}, Row{40, 2, 2}}) {
        bool judged = false;
        for (int trial = 0; trial < 20 && !judged; ++trial) {
            std::vector<Clock::time_point> sent;
            std::thread device([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                for (std::uint8_t b = 1; b <= row.bytes; ++b) {
                    if (b > 1) std::this_thread::sleep_for(std::chrono::milliseconds(row.gapMs));
                    line.Send({b});
                    sent.push_back(Clock::now());
                }
            });
            std::vector<Bytes> reads;
            for (Bytes r = port->ReadPort(); !r.empty(); r = port->ReadPort()) reads.push_back(r);
            device.join();
            // Judge only trials whose gaps were what the row says.
            bool asIntended = true;
            for (std::size_t i = 1; i < sent.size(); ++i) {
                const auto gap = sent[i] - sent[i - 1];
                asIntended = asIntended && (row.reads == 1 ? gap < std::chrono::milliseconds(16)
                                                           : gap > std::chrono::milliseconds(30));
            }
            if (!asIntended) continue;
            judged = true;
            Bytes all;
            for (const Bytes& r : reads) all.insert(all.end(), r.begin(), r.end());
            Bytes want(row.bytes);
            for (std::uint8_t b = 0; b < row.bytes; ++b) want[b] = static_cast<std::uint8_t>(b + 1);
            EXPECT_EQ(all, want) << row.gapMs;
            EXPECT_EQ(reads.size(), row.reads) << row.gapMs << " ms apart";
        }
        EXPECT_TRUE(judged) << "the machine never kept a " << row.gapMs << " ms gap";
    }
}

}  // namespace
}  // namespace busdesk::testing
