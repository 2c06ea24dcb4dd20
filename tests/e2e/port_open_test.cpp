#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/frmSerial.h"
#include "link/port_names.h"
#include "link/posix_port.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {
namespace {

// The window on the real POSIX port, opening lines that cannot be had.
TEST(PortOpening, UnavailableLinesShowBothBoxesAndChangeNothing) {
    struct Row {
        const char* port;
        const char* mappedTo;  // nullptr: the default /dev/ttyS{n-1}
        const char* firstBox;
    };
    const Row rows[] = {
        {"COM1:", "/nonexistent/tty", "Com Port COM1: недоступен. Установите нужный порт."},
        {"COM9:", "/nonexistent/ttyS8", "Com Port COM9: недоступен. Установите нужный порт."},
        {"COM2:", "/dev/null", "Unable to set timeouts for port COM2: Error: 25"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.port);
        ScriptedDialogs dialogs;
        PortMap ports;
        ASSERT_TRUE(ports.Map(r.port, r.mappedTo));
        PosixSerialPort port(dialogs, ports);
        frmSerial form(port, dialogs);
        form.Raise("frmSerial", "Load");
        const auto it = std::find(form.CmbPort.list.begin(), form.CmbPort.list.end(), r.port);
        ASSERT_NE(it, form.CmbPort.list.end());
        form.UserPick("CmbPort", static_cast<int>(it - form.CmbPort.list.begin()));
        const auto before = form.Snapshot();

        EXPECT_EQ(form.UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
        EXPECT_EQ(dialogs.Texts(),
                  (std::vector<std::string>{r.firstBox, std::string(r.port) + " Not available!"}));
        EXPECT_EQ(form.Snapshot(), before);
        EXPECT_FALSE(form.Tick());
    }
}

}  // namespace
}  // namespace busdesk::testing
