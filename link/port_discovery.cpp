#include "link/port_discovery.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string_view>

#include "link/open_reason.h"

namespace busdesk {

namespace {

// "ttyS10" sorts after "ttyS9": compare the trailing number as a number.
bool NodeLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
        const std::string digits = s.substr(i);
        // Long runs of digits stay text: no overflow, still a stable order.
        const unsigned long n = digits.empty() || digits.size() > 9 ? 0 : std::stoul(digits);
        return std::pair(s.substr(0, i), std::pair(n, digits));
    };
    return split(a) < split(b);
}

const std::string& SortName(const SerialDevice& d) {
    return d.byId.empty() ? d.node : d.byId;
}

void Append(std::string& out, std::string_view sep, const std::string& part) {
    if (part.empty()) return;
    if (!out.empty()) out += sep;
    out += part;
}

}  // namespace

std::vector<SerialDevice> DefaultOrder(std::vector<SerialDevice> devices) {
    std::erase_if(devices, [](const SerialDevice& d) { return !d.present || d.path.empty(); });
    // One device seen twice (by its node and by its link) takes one entry.
    std::set<std::string> seen;
    std::erase_if(devices, [&seen](const SerialDevice& d) {
        return !d.node.empty() && !seen.insert(d.node).second;
    });
    std::stable_sort(
        devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
            if (a.kind != b.kind) return a.kind == SerialDevice::Kind::Adapter;
            if (a.kind == SerialDevice::Kind::Adapter && a.byId.empty() != b.byId.empty())
                return !a.byId.empty();  // named adapters keep their place across re-plugging
            if (SortName(a) != SortName(b)) return NodeLess(SortName(a), SortName(b));
            return NodeLess(a.node, b.node);
        });
    return devices;
}

std::string Describe(const SerialDevice& device) {
    std::string what = device.friendlyName;
    if (what.empty()) {
        Append(what, " ", device.maker);
        // Makers repeat their name in the product text ("FTDI" "FTDI USB UART").
        if (!device.product.empty() && device.product.rfind(device.maker, 0) == 0 &&
            !device.maker.empty())
            what = device.product;
        else
            Append(what, " ", device.product);
    }
    if (what.empty() && device.kind == SerialDevice::Kind::Uart) what = "UART";
    if (!device.serial.empty()) Append(what, ", ", "s/n " + device.serial);
    if (what.empty()) Append(what, ", ", device.driver);
    std::string out = device.node.empty() ? device.path : device.node;
    Append(out, " — ", what);
    if (device.denied)
        Append(out, " — ", DeniedText(device.node.empty() ? device.path : device.node));
    return out;
}

std::string DeniedText(const std::string& node) {
    return "нет доступа к " + node + ": " + std::string(kDialoutHint);
}

}  // namespace busdesk
