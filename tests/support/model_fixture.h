#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/frmSerial.h"
#include "link/memory_port.h"
#include "support/scripted_dialogs.h"

namespace busdesk::testing {

// A loaded window on an in-memory port.
class ModelTest : public ::testing::Test {
  protected:
    ModelTest() { form.Raise("frmSerial", "Load"); }

    // Opens the (in-memory) port through the window, as a user would.
    void OpenPort() {
        ASSERT_EQ(form.UserClick("BTNOpenCom"), frmSerial::Raised::Handled);
        ASSERT_TRUE(form.TMRComm.enabled);
    }

    // Makes CmbNet hold `entries` with the first selected, as a survey leaves it.
    void SetDevices(std::initializer_list<std::string> entries) {
        form.CmbNet.list.assign(entries.begin(), entries.end());
        form.CmbNet.listIndex = form.CmbNet.list.empty() ? -1 : 0;
        form.CmbNet.caption = form.CmbNet.list.empty() ? "" : form.CmbNet.list.front();
    }

    MemoryPort port;
    ScriptedDialogs dialogs;
    frmSerial form{port, dialogs};
};

}  // namespace busdesk::testing
