#pragma once

#include <string>

namespace busdesk::report {

// The report's whole stylesheet, for its one <style> element: screen and A4
// print alike.
std::string ReportCss();

}  // namespace busdesk::report
