// busdesk-cli report: the report engine behind the command's words.
#include <iostream>

#include "cli/commands.h"
#include "report/report.h"

namespace busdesk::cli {

Outcome RunReport(const Step& step) {
    report::Request request;
    request.journals = step.journals;
    request.site = step.site.value_or("");
    request.output = step.output.value_or("report.html");
    const report::Outcome o = report::WriteReport(request);
    std::string skipped;
    if (o.skipped > 0) {
        skipped = "пропущено " + std::to_string(o.skipped) + " " +
                  Plural(static_cast<long long>(o.skipped), "строка", "строки", "строк") +
                  " журнала";
        std::cerr << "busdesk-cli: " << skipped << std::endl;
    }
    if (!o.ok) {
        std::cerr << "busdesk-cli: " << o.error << std::endl;
        return {kRefused, o.error};
    }
    return {kDone, "отчёт записан в " + request.output + (skipped.empty() ? "" : "; " + skipped)};
}

}  // namespace busdesk::cli
