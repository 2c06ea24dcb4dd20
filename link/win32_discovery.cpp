// Serial port discovery on Windows: the device manager's ports and their
// friendly names, from SetupAPI.
#include <windows.h>
// clang-format off: setupapi.h needs windows.h first
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <string>
#include <vector>

#include "link/port_discovery.h"

namespace busdesk {

namespace {

// The device setup class "Ports" (COM and LPT ports), as devguid.h names it;
// spelt out so that no GUID library has to be linked.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string RegistryText(HKEY key, const char* value) {
    char buffer[256] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    if (::RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    buffer[std::min<DWORD>(size, sizeof buffer - 1)] = '\0';
    return buffer;
}

std::string DeviceText(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    char buffer[512] = {};
    DWORD type = 0;
    if (::SetupDiGetDeviceRegistryPropertyA(set, &info, property, &type,
                                            reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                            nullptr) == 0 ||
        type != REG_SZ)
        return {};
    return buffer;
}

}  // namespace

std::vector<SerialDevice> DiscoverSerialDevices() {
    std::vector<SerialDevice> out;
    try {
        HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE) return out;
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info) != 0; ++i) {
            HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE) continue;
            const std::string port = RegistryText(key, "PortName");
            ::RegCloseKey(key);
            // The class also holds printer ports (LPT1).
            if (port.rfind("COM", 0) != 0) continue;
            SerialDevice d;
            d.node = port;
            d.path = R"(\\.\)" + port;
            d.friendlyName = DeviceText(set, info, SPDRP_FRIENDLYNAME);
            d.maker = DeviceText(set, info, SPDRP_MFG);
            d.driver = DeviceText(set, info, SPDRP_SERVICE);
            out.push_back(std::move(d));
        }
        ::SetupDiDestroyDeviceInfoList(set);
    } catch (...) {
        out.clear();
    }
    return out;
}

}  // namespace busdesk
