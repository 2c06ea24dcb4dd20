#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/frmSerial.h"
#include "link/posix_port.h"
#include "link/pty_line.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {
namespace {

// An adapter that is pulled out and plugged back: a pty behind a by-id-like
// link that the test points at a fresh pty, as udev re-points the real one.
TEST(Replugging, AVanishedAdapterClosesThePortAndOpensAgainWithoutARestart) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("busdesk-by-id-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    auto line = std::make_unique<PtyLine>();
    ASSERT_TRUE(line->Ok());
    std::filesystem::create_symlink(line->path, link);

    int discoveries = 0;
    PosixPortOptions options;
    options.discover = [&] {
        ++discoveries;
        SerialDevice adapter;
        adapter.node =
            std::filesystem::exists(link) ? std::filesystem::canonical(link).string() : "";
        adapter.path = link.string();
        adapter.byId = link.string();
        // Gone from the system while unplugged.
        return adapter.node.empty() ? std::vector<SerialDevice>{} : std::vector{adapter};
    };
    ScriptedDialogs dialogs;
    PosixSerialPort port(dialogs, PortMap{}, options);
    frmSerial form(port, dialogs);
    form.Raise("frmSerial", "Load");

    ASSERT_EQ(form.UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    EXPECT_FALSE(form.BTNOpenCom.enabled);
    ASSERT_TRUE(form.Tick());
    EXPECT_EQ(line->Receive(64, 300).at(0), 0x31);  // a request went out

    // Pulled out: the device side is gone for good.
    line.reset();
    std::filesystem::remove(link);
    int ticks = 0;
    while (form.TMRComm.enabled && ticks < 10) {
        ASSERT_TRUE(form.Tick());
        ++ticks;
    }
    // Write failures close the port after the fourth failure in a row, each
    // tick ending at once (a spinning or blocking read never gets here).
    EXPECT_FALSE(form.TMRComm.enabled);
    EXPECT_TRUE(form.BTNOpenCom.enabled);
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(4, "Ошибка записи в порт"));

    // Still out: opening COM1: finds nothing there.
    dialogs.messages.clear();
    form.UserClick("BTNOpenCom");
    EXPECT_EQ(dialogs.Texts(),
              (std::vector<std::string>{"Com Port COM1: недоступен. Установите нужный порт.",
                                        "COM1: Not available!"}));

    // Plugged back: a new node behind the same name, and the next click opens it.
    line = std::make_unique<PtyLine>();
    ASSERT_TRUE(line->Ok());
    std::filesystem::create_symlink(line->path, link);
    dialogs.messages.clear();
    ASSERT_EQ(form.UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form.BTNOpenCom.enabled);
    ASSERT_TRUE(form.Tick());
    const Bytes sent = line->Receive(64, 300);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], 0x31);
    EXPECT_EQ(discoveries, 3);  // once per open, not once per run

    form.UserClick("BTNCloseCom");
    std::filesystem::remove(link);
}

}  // namespace
}  // namespace busdesk::testing
