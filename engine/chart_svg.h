#pragma once

#include <string>
#include <string_view>

#include "engine/chart.h"

// The trend chart as an inline SVG fragment, for a report that is printed:
// light colours, no scripts, no external references, generic fonts.
namespace busdesk::engine {

// `view` is the one the chart was built with (it gives the overall size);
// `title`, when given, names the picture for assistive technology.
// A chart with no readings carries a "нет данных" text over its bands.
std::string ChartSvg(const Chart& chart, const ChartView& view, std::string_view title = {});

// `text` made safe for XML character data and attribute values: markup
// characters escaped, control characters and broken UTF-8 replaced.
std::string XmlEscaped(std::string_view text);

}  // namespace busdesk::engine
