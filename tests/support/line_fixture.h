#pragma once

#include <memory>

#include "app/frmSerial.h"
#include "engine/line_monitor.h"
#include "link/memory_port.h"
#include "protocol/crc.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {

using engine::Journal;
using engine::LineCounters;
using engine::LineMonitor;

inline Bytes Framed(std::uint8_t address, std::uint8_t code, Bytes payload = {}) {
    payload.insert(payload.begin(), {0x3E, address, code});
    payload.push_back(Crc8(payload));
    return payload;
}

inline Bytes ReaderData() {
    return Framed(1, 0xF0,
                  {0x19, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x20, 0x4E,
                   0x00, 0x00, 0x64, 0x00, 0x02});
}

// The window on a counted in-memory port, opened, device 1 selected, and one
// tick run: the serial-number request is out.
struct Line {
    explicit Line(Journal* journal = nullptr) {
        auto p = std::make_unique<MemoryPort>();
        port = p.get();
        monitor = std::make_unique<LineMonitor>(std::move(p), journal);
        form = std::make_unique<frmSerial>(*monitor, dialogs);
        form->receptionObserver = monitor.get();
        form->Raise("frmSerial", "Load");
        form->UserClick("BTNOpenCom");
        form->CmbNet.list = {"1"};
        form->CmbNet.listIndex = 0;
        form->CmbNet.caption = "1";
        form->Tick();
    }
    LineCounters Tick() {
        form->Tick();
        return monitor->Counters();
    }

    ScriptedDialogs dialogs;
    MemoryPort* port = nullptr;
    std::unique_ptr<LineMonitor> monitor;
    std::unique_ptr<frmSerial> form;
};

}  // namespace busdesk::testing
