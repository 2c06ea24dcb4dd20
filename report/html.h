#pragma once

#include <optional>
#include <string>

#include "cli/site.h"
#include "engine/chart.h"
#include "report/model.h"

namespace busdesk::report {

struct Page {
    const Model* model = nullptr;
    const cli::site::Site* site = nullptr;  // null: no site file given
    std::string sitePath;
    std::string madeAt;  // when the report was made, as people read it
};

// The whole document.
std::string RenderHtml(const Page& page);

// How each device's trend is drawn: the journal's whole span in one chart.
engine::ChartView TrendView(const Model& model);

}  // namespace busdesk::report
