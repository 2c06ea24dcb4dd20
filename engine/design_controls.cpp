#include "engine/design_controls.h"

#include <string>

#include "app/frmSerial.h"
#include "link/memory_port.h"

namespace busdesk::engine {

namespace {

// The design values only; no handler ever runs on this model.
class NoDialogs : public Dialogs {
  public:
    MsgResult MsgBox(const std::string&, MsgButtons, MsgIcon, const std::string&) override {
        return MsgResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
};

}  // namespace

std::vector<Control> DesignControls() {
    MemoryPort port;
    NoDialogs dialogs;
    frmSerial design(port, dialogs);
    return design.Snapshot();
}

}  // namespace busdesk::engine
