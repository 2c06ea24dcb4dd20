#include "link/open_failure.h"

#include "app/messages.h"

namespace busdesk {

void ReportOpenFailure(Dialogs& dialogs, OpenFailure failure, const std::string& name,
                       const std::string& settings, unsigned long code) {
    try {
        const std::string error = " Error: " + std::to_string(code);
        std::string text;
        MsgIcon icon = MsgIcon::None;
        switch (failure) {
            case OpenFailure::Unavailable:
                text = "Com Port " + name + " недоступен. Установите нужный порт.";
                icon = MsgIcon::Warning;
                break;
            case OpenFailure::Timeouts:
                text = "Unable to set timeouts for port " + name + error;
                break;
            case OpenFailure::BuildSettings:
                text = "Unable to build Comm DCB " + settings + error;
                break;
            case OpenFailure::ApplySettings:
                text = "Unable to set Comm DCB " + settings + error;
                break;
        }
        dialogs.MsgBox(text, MsgButtons::Ok, icon, msg::kAppTitle);
    } catch (...) {
        // Opening reports its failure and returns false whatever the box did.
    }
}

}  // namespace busdesk
