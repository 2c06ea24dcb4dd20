// What finding the ports costs at each open: sysfs alone over a machine with
// a dozen ports, the ordering and the table over them, and on the machine the
// benchmark runs on udev, sysfs and the system's choice of the two.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "link/port_discovery.h"
#include "link/port_names.h"
#include "link/system_port.h"
#include "support/fake_sysfs.h"

namespace {

using busdesk::testing::FakeSysfs;

// Eight adapters (four of one product), four ttyS of which two have a UART,
// and the virtual terminals every machine has.
void Populate(FakeSysfs& tree) {
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        if (i % 2 == 0)
            tree.AddUsb("ttyUSB" + n, "FTDI", "FT232R USB UART", "A10K3X" + n, "ftdi_sio",
                        "usb-FTDI_FT232R_USB_UART_A10K3X" + n + "-if00-port0");
        else
            tree.AddUsb("ttyACM" + n, "Maker", "Maker Modem", i == 7 ? "" : "M" + n, "cdc_acm",
                        i == 7 ? "" : "usb-Maker_Modem_M" + n + "-if00");
    }
    for (int i = 0; i < 4; ++i) tree.AddUart("ttyS" + std::to_string(i), i < 2 ? "4" : "0");
    for (int i = 0; i < 64; ++i) tree.AddVirtual("tty" + std::to_string(i));
}

void BM_SysfsDiscoveryDozenPorts(benchmark::State& state) {
    FakeSysfs tree;
    Populate(tree);
    const busdesk::DeviceRoots roots{tree.Sys(), tree.Dev()};
    std::size_t found = 0;
    for (auto _ : state) {
        const auto table =
            busdesk::PortMap().Table(busdesk::DefaultOrder(busdesk::DiscoverFromSysfs(roots)));
        found = table.size();
        benchmark::DoNotOptimize(table);
    }
    state.counters["devices"] = static_cast<double>(busdesk::DiscoverFromSysfs(roots).size());
    state.counters["entries"] = static_cast<double>(found);
}
BENCHMARK(BM_SysfsDiscoveryDozenPorts)->Unit(benchmark::kMillisecond);

void BM_OrderAndTableDozenPorts(benchmark::State& state) {
    FakeSysfs tree;
    Populate(tree);
    const std::vector<busdesk::SerialDevice> found =
        busdesk::DiscoverFromSysfs({tree.Sys(), tree.Dev()});
    for (auto _ : state) {
        auto table = busdesk::PortMap().Table(busdesk::DefaultOrder(found));
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_OrderAndTableDozenPorts)->Unit(benchmark::kMicrosecond);

// The two ways of discovery over the same machine: udev's library reads the
// same sysfs and, where the daemon runs, its database as well.
void BM_UdevDiscoveryThisMachine(benchmark::State& state) {
    if (!busdesk::DiscoverFromUdev()) {
        state.SkipWithError("no udev in this build or on this machine");
        return;
    }
    std::size_t found = 0;
    for (auto _ : state) {
        auto devices = busdesk::DiscoverFromUdev();
        found = devices ? devices->size() : 0;
        benchmark::DoNotOptimize(devices);
    }
    state.counters["devices"] = static_cast<double>(found);
}
BENCHMARK(BM_UdevDiscoveryThisMachine)->Unit(benchmark::kMillisecond);

void BM_SysfsDiscoveryThisMachine(benchmark::State& state) {
    std::size_t found = 0;
    for (auto _ : state) {
        auto devices = busdesk::DiscoverFromSysfs({});
        found = devices.size();
        benchmark::DoNotOptimize(devices);
    }
    state.counters["devices"] = static_cast<double>(found);
}
BENCHMARK(BM_SysfsDiscoveryThisMachine)->Unit(benchmark::kMillisecond);

void BM_SystemDiscoveryThisMachine(benchmark::State& state) {
    for (auto _ : state) {
        auto table = busdesk::SystemPortTable(busdesk::PortMap());
        benchmark::DoNotOptimize(table);
    }
    state.counters["devices"] = static_cast<double>(busdesk::DiscoverSerialDevices().size());
}
BENCHMARK(BM_SystemDiscoveryThisMachine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
