// Controls enabled and disabled together, by the group code in their Tag.
#include "app/frmSerial.h"

namespace busdesk {

namespace {

template <typename InRange, typename Apply>
void ForGroup(const std::vector<Control*>& controls, InRange inRange, Apply apply) {
    for (Control* c : controls) {
        const std::optional<long> code = c->GroupCode();
        if (code && inRange(*code)) apply(*c);
    }
}

void Enable(Control& c) {
    c.enabled = true;
}

}  // namespace

void frmSerial::CloseAllTags() {
    ForGroup(
        controls_, [](long code) { return code > 8; }, [](Control& c) { c.enabled = false; });
}

// Inverts rather than sets: it relies on the code-9 controls being disabled
// whenever the port is opened (txtRec is the one exception of the design).
void frmSerial::SwitchTags() {
    ForGroup(
        controls_, [](long code) { return code > 8 && code < 130; },
        [](Control& c) { c.enabled = !c.enabled; });
}

void frmSerial::swtag130() {
    ForGroup(
        controls_, [](long code) { return code == 130; }, Enable);
}

void frmSerial::swtag131() {
    ForGroup(
        controls_, [](long code) { return code == 131; }, Enable);
}

void frmSerial::swtag134() {
    ForGroup(
        controls_, [](long code) { return code >= 134 && code < 215; }, Enable);
}

}  // namespace busdesk
