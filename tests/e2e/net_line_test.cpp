// The window on a network line: the simulated bus served over telnet with the
// com-port control, the server then killed.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/frmSerial.h"
#include "link/net_port.h"
#include "link/port_names.h"
#include "sim/net_bridge.h"
#include "sim/sim_bus.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {
namespace {

using std::chrono::milliseconds;

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class NetLineWindowTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        sim::BusConfig config = sim::DefaultBusConfig();
        config.drift = false;
        bus = std::make_unique<sim::SimulatedBus>(config);
        const std::string pty = bus->Start();
        ASSERT_FALSE(pty.empty()) << bus->Error();
        sim::BridgeOptions b;
        b.telnet = GetParam();
        std::string error;
        ASSERT_TRUE(bridge.Start(b, pty, error)) << error;
        PortMap ports;
        ASSERT_TRUE(ports.AddMapping("COM1:=" + bridge.Url()));
        port = std::make_unique<NetSerialPort>(dialogs, ports);
        form = std::make_unique<frmSerial>(*port, dialogs);
        form->Raise("frmSerial", "Load");
        ASSERT_EQ(form->UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
        ASSERT_TRUE(form->TMRComm.enabled) << port->OpenError();
    }
    void TearDown() override {
        form.reset();
        port.reset();
        bridge.Stop();
        if (bus) bus->Stop();
    }
    bool StepUntil(const std::function<bool()>& done, int limit = 20) {
        for (int i = 0; i < limit; ++i) {
            EXPECT_TRUE(form->Tick());
            std::this_thread::sleep_for(milliseconds(30));
            if (done()) return true;
        }
        return false;
    }

    std::unique_ptr<sim::SimulatedBus> bus;
    sim::NetBridge bridge;
    ScriptedDialogs dialogs;
    std::unique_ptr<NetSerialPort> port;
    std::unique_ptr<frmSerial> form;
};

TEST_P(NetLineWindowTest, KilledServerEndsInFourWriteFailuresAndAClosedPort) {
    ASSERT_EQ(form->UserClick("Opros"), frmSerial::Raised::Handled);
    ASSERT_TRUE(StepUntil([this] { return form->MsgCom.caption == "Произошел опрос сети."; }));
    ASSERT_TRUE(StepUntil([this] { return form->sn.caption != "" && form->sn.caption != "0"; }));
    EXPECT_TRUE(dialogs.Texts().empty());

    bridge.Stop();  // the server goes away with the connection
    // The first write after the loss may still be taken by the system; from
    // the read that finds the connection gone on, every write fails.
    int ticks = 0;
    while (form->TMRComm.enabled && ticks < 8) {
        const double before = ProcessCpuSeconds();
        form->Tick();
        EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "a tick spun on the dead connection";
        ++ticks;
    }
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(4, "Ошибка записи в порт"));
    EXPECT_LE(ticks, 5);
    EXPECT_FALSE(form->TMRComm.enabled);
    EXPECT_FALSE(form->Tick());
    EXPECT_TRUE(form->BTNOpenCom.enabled);

    const double cpu = ProcessCpuSeconds();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Lines, NetLineWindowTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? "rfc2217" : "tcp";
                         });

}  // namespace
}  // namespace busdesk::testing
