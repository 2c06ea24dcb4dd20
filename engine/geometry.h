#pragma once

#include <optional>
#include <string_view>

namespace busdesk::engine {

// A control's place in twips (Left, Top, Width, Height), relative to the frame
// that holds it or to the window.
struct TwipRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The window's initial client area, in twips.
inline constexpr int kClientWidthTwips = 7905;
inline constexpr int kClientHeightTwips = 6585;
inline constexpr int kTwipsPerInch = 1440;

// The place of a control in its container; nullopt for one that has no place
// (the timer).
std::optional<TwipRect> PlaceOf(std::string_view name);

// Twips to device pixels at `dpi`, rounded to the nearest pixel.
int TwipsToPixels(int twips, double dpi);

}  // namespace busdesk::engine
