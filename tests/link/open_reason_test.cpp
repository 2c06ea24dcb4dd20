#include "link/open_reason.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

namespace busdesk::testing {
namespace {

// Each errno an open or a lock can fail with reads as the trouble it is, with
// the system's own text beside the lead words.
TEST(OpenReason, ErrnoValuesReadAsTheirTrouble) {
    struct Row {
        int error;
        std::optional<long> pid;
        std::string lead;   // the text up to the system's words
        std::string after;  // what follows them
    };
    const std::string dev = "/dev/ttyUSB0";
    const std::string hint =
        ": добавьте себя в группу dialout: sudo adduser $USER dialout и войдите заново";
    const Row rows[] = {
        {ENOENT, {}, "нет такого устройства " + dev + " (", ")"},
        {ENXIO, {}, "нет такого устройства " + dev + " (", ")"},
        {ENODEV, {}, "нет такого устройства " + dev + " (", ")"},
        {EWOULDBLOCK, 1234, "порт " + dev + " занят другой программой (PID 1234): ", ""},
        {EBUSY, {}, "порт " + dev + " занят другой программой: ", ""},
        {EACCES, {}, "нет доступа к " + dev + " (", ")" + hint},
        {ENOTTY, {}, dev + " — не последовательный порт (", ")"},
        {EIO, {}, "не удалось открыть " + dev + " (", ")"},
        {EPERM, {}, "не удалось открыть " + dev + " (", ")"},  // no group would help
    };
    for (const Row& row : rows) {
        OpenReason r;
        r.trouble = TroubleOfErrno(row.error);
        r.device = dev;
        r.systemText = ErrnoText(row.error);
        r.pid = row.pid;
        ASSERT_FALSE(r.systemText.empty()) << row.error;
        EXPECT_EQ(ReasonText(r), row.lead + r.systemText + row.after) << row.error;
    }
}

#ifdef __linux__
// The texts a technician compares with other serial tools, word for word.
TEST(OpenReason, TheSystemsOwnWords) {
    const auto text = [](int error, const std::string& dev, std::optional<long> pid = {}) {
        return ReasonText({TroubleOfErrno(error), dev, ErrnoText(error), pid, {}});
    };
    EXPECT_EQ(text(ENOENT, "/dev/ttyUSB0"),
              "нет такого устройства /dev/ttyUSB0 (No such file or directory)");
    EXPECT_EQ(text(EWOULDBLOCK, "/dev/ttyUSB0", 1234),
              "порт /dev/ttyUSB0 занят другой программой (PID 1234): Resource temporarily "
              "unavailable");
    EXPECT_EQ(text(EACCES, "/dev/ttyS0"),
              "нет доступа к /dev/ttyS0 (Permission denied): добавьте себя в группу dialout: "
              "sudo adduser $USER dialout и войдите заново");
}
#endif

// Windows names a port in use ERROR_ACCESS_DENIED; its texts end in ".\r\n".
TEST(OpenReason, Win32ErrorCodesReadAsTheirTrouble) {
    struct Row {
        unsigned long code;
        OpenTrouble trouble;
    };
    const Row rows[] = {
        {2, OpenTrouble::NoDevice},     // ERROR_FILE_NOT_FOUND
        {3, OpenTrouble::NoDevice},     // ERROR_PATH_NOT_FOUND
        {1167, OpenTrouble::NoDevice},  // ERROR_DEVICE_NOT_CONNECTED
        {5, OpenTrouble::Busy},         // ERROR_ACCESS_DENIED
        {32, OpenTrouble::Busy},        // ERROR_SHARING_VIOLATION
        {1, OpenTrouble::NotSerial},    // ERROR_INVALID_FUNCTION
        {87, OpenTrouble::Settings},    // ERROR_INVALID_PARAMETER
        {31, OpenTrouble::Other},       // ERROR_GEN_FAILURE
    };
    for (const Row& row : rows) EXPECT_EQ(TroubleOfWin32Error(row.code), row.trouble) << row.code;

    EXPECT_EQ(ReasonText({OpenTrouble::Busy, "COM3:", "Отказано в доступе.\r\n", {}, {}}),
              "порт COM3: занят другой программой: Отказано в доступе");
    EXPECT_EQ(ReasonText({OpenTrouble::NoDevice,
                          "COM1: (\\\\.\\COM12)",
                          "Не удается найти указанный файл.\r\n",
                          {},
                          {}}),
              "нет такого устройства COM1: (\\\\.\\COM12) (Не удается найти указанный файл)");
    EXPECT_EQ(
        ReasonText(
            {OpenTrouble::Settings, "COM3:", "Параметр задан неверно.\r\n", {}, "19200,n,8,1"}),
        "COM3: не принимает настройки 19200,n,8,1 (Параметр задан неверно)");
    // A system that says nothing leaves no empty brackets behind.
    EXPECT_EQ(ReasonText({OpenTrouble::NoDevice, "COM3:", "", {}, {}}),
              "нет такого устройства COM3:");
    EXPECT_EQ(ReasonText({OpenTrouble::Busy, "COM3:", "", 42, {}}),
              "порт COM3: занят другой программой (PID 42)");
}

TEST(OpenReason, NamesThatLeadNowhere) {
    EXPECT_EQ(NoPortText("COM3:", 2, true),
              "нет такого устройства за COM3: (последовательных портов найдено: 2)");
    EXPECT_EQ(NoPortText("LPT1:", 0, false),
              "нет такого устройства LPT1: (имя порта — от COM1: до COM9:)");
}

// /proc/locks lists major and minor in hex, the inode in decimal; waiters
// ("->") hold nothing; a flock() is what a second instance of the tool meets.
TEST(OpenReason, TheLockHolderFromProcLocks) {
    const std::string locks =
        "1: POSIX  ADVISORY  WRITE 700 00:05:87 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 999 00:05:87 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 555 fd:01:87 0 EOF\n"
        "4: OFDLCK ADVISORY  WRITE -1 00:05:88 0 EOF\n"
        "5: FLOCK  ADVISORY  WRITE 0 00:05:89 0 EOF\n"
        "6: POSIX  ADVISORY  READ 321 00:05:90 0 EOF\n"
        "7: garbage\n"
        "8: FLOCK  ADVISORY  WRITE 77 00:05:x 0 EOF";
    struct Row {
        unsigned major;
        unsigned minor;
        unsigned long inode;
        std::optional<long> holder;
    };
    const Row rows[] = {
        {0, 5, 87, 1234},          // the flock, not the earlier POSIX lock or the waiter
        {0xfd, 1, 87, 555},        // same inode on another file system
        {0, 5, 88, std::nullopt},  // an open file description lock names no process
        {0, 5, 89, std::nullopt},  // a holder in another PID namespace
        {0, 5, 90, 321},           // only a POSIX lock: still who holds it
        {0, 5, 91, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LockHolder(locks, row.major, row.minor, row.inode), row.holder)
            << row.major << ":" << row.minor << ":" << row.inode;
    EXPECT_EQ(LockHolder("", 0, 5, 87), std::nullopt);
}

// "ошибка 25" told nobody anything: the system's words and what they mean.
TEST(OpenReason, ARefusedRs485SwitchSaysWhy) {
    const std::string refused = Rs485RefusedText("/dev/ttyS0", ENOTTY);
    EXPECT_EQ(refused, "режим RS-485 для /dev/ttyS0 не включён: " + ErrnoText(ENOTTY) +
                           " — драйвер не поддерживает режим RS-485; порт открыт без управления "
                           "направлением");
    EXPECT_EQ(refused.find("ошибка"), std::string::npos);
    const std::string failed = Rs485RefusedText("/dev/ttyS0", EIO);
    EXPECT_NE(failed.find(ErrnoText(EIO) + " — драйвер отказал"), std::string::npos) << failed;
}

}  // namespace
}  // namespace busdesk::testing
