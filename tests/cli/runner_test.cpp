// The runner in process, on a port in memory: a port that will not open says
// why, in the result and on standard error.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "cli/session.h"
#include "link/memory_port.h"

namespace busdesk::cli {
namespace {

class RefusingPort : public MemoryPort {
  public:
    RefusingPort() { openSucceeds = false; }
    std::string OpenError() const override { return "Permission denied"; }
};

TEST(RunnerOpen, APortThatWillNotOpenSaysWhy) {
    Session session([](Dialogs&) { return std::make_unique<RefusingPort>(); },
                    [](const std::string&) {});
    session.Start();
    std::ostringstream err;
    Progress quiet(err, false);
    Runner runner(
        session, "COM1:", [](const Record&) {}, &quiet);
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    const Outcome o = runner.Run(Step{});  // a survey
    std::cerr.rdbuf(old);
    session.Stop();
    EXPECT_EQ(o.exit, kPortFailed);
    EXPECT_EQ(o.text, "порт COM1: не открылся: Permission denied");
    EXPECT_EQ(captured.str(), "порт COM1: не открылся: Permission denied\n");
}

}  // namespace
}  // namespace busdesk::cli
