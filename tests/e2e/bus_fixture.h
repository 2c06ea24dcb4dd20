#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/frmSerial.h"
#include "link/port_names.h"
#include "link/posix_port.h"
#include "sim/sim_bus.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {

// What the window showed after one tick.
struct Seen {
    std::string sent;  // CmdBoxText: the frame written in that tick
    std::string status;
    std::string received;  // txtRec
    std::uint32_t lamp = 0;
};

// The window on the real POSIX port, with the simulated bus behind the line as
// "COM1:". Ticks are driven by the test; between two ticks only as much time
// passes as the bus needs to answer.
class BusTest : public ::testing::Test {
  protected:
    void SetUp() override { Connect(sim::DefaultBusConfig()); }

    // Starts `config` as the bus, loads the window and opens its port.
    void Connect(sim::BusConfig config, bool drift = false) {
        config.drift = drift;
        form.reset();
        port.reset();
        bus = std::make_unique<sim::SimulatedBus>(config);
        const std::string path = bus->Start();
        ASSERT_FALSE(path.empty()) << bus->Error();
        PortMap ports;
        ASSERT_TRUE(ports.Map("COM1:", path));
        port = std::make_unique<PosixSerialPort>(dialogs, ports);
        form = std::make_unique<frmSerial>(*port, dialogs);
        form->Raise("frmSerial", "Load");
        ASSERT_EQ(form->UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
        ASSERT_TRUE(form->TMRComm.enabled) << "port did not open";
    }

    void TearDown() override {
        form.reset();
        port.reset();
        if (bus) bus->Stop();
    }

    // One tick, then time for the devices to answer the frame it wrote.
    Seen Step() {
        EXPECT_TRUE(form->Tick());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Seen s{form->CmdBoxText.caption, form->MsgCom.caption, form->txtRec.caption,
               form->Pic.fillColor};
        history.push_back(s);
        return s;
    }

    // Ticks until `done` holds, at most `limit` ticks; whether it came true.
    bool StepUntil(const std::function<bool()>& done, int limit = 20) {
        for (int i = 0; i < limit; ++i) {
            Step();
            if (done()) return true;
        }
        return false;
    }

    // A survey, and ticks until the list is filled and the first device has
    // told its serial number.
    void Survey() {
        ASSERT_EQ(form->UserClick("Opros"), frmSerial::Raised::Handled);
        ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Произошел опрос сети."; }));
        ASSERT_TRUE(
            StepUntil([this] { return form->sn.caption != "" && form->sn.caption != "0"; }));
    }

    // Typing into a box and picking from a list, as the user does; neither
    // need have a handler.
    void Type(std::string_view control, const std::string& text) {
        const frmSerial::Raised r = form->UserSetText(control, text);
        ASSERT_TRUE(r == frmSerial::Raised::Handled || r == frmSerial::Raised::NoHandler)
            << control;
    }
    void Pick(int index) {
        const frmSerial::Raised r = form->UserPick("CmbNet", index);
        ASSERT_TRUE(r == frmSerial::Raised::Handled || r == frmSerial::Raised::NoHandler);
    }

    // Ticks until the idle poll that goes out next is the reader data poll.
    void UntilDataPollIsNext() {
        ASSERT_TRUE(StepUntil([this] { return form->CointWrs == 0 && form->wrs.empty(); }, 4));
    }

    std::unique_ptr<sim::SimulatedBus> bus;
    ScriptedDialogs dialogs;
    std::unique_ptr<PosixSerialPort> port;
    std::unique_ptr<frmSerial> form;
    std::vector<Seen> history;
};

// The bytes of the first line of a receive dump: the reception, then the CRC
// the tool computed over all of it but the last byte.
inline std::vector<std::string> DumpBytes(const std::string& dump) {
    std::vector<std::string> out;
    const std::string line = dump.substr(0, dump.find('\r'));
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t space = line.find(' ', at);
        const std::size_t end = space == std::string::npos ? line.size() : space;
        if (end > at) out.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

}  // namespace busdesk::testing
