#pragma once

// Which controls the window shows when it first appears. Controls that lie
// wholly outside the window's initial client area (the service controls to
// the right, the end of a frame below) are made just after the window is
// shown: under Wine every child window costs round trips to the server, and
// nobody can see these before the user enlarges the window.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/control.h"
#include "engine/geometry.h"

namespace busdesk::win32 {

// Names of the controls with nothing to show in a view of `viewWidth` x
// `viewHeight` twips at the window's top left. `placeOf(name)` gives a
// control's place in its container (std::optional<engine::TwipRect>);
// containers come before what they hold, as in the model's window order. A
// control is clipped by the view and by every container around it; one
// without a place (the timer) counts as shown.
template <class PlaceOf>
std::set<std::string> OutOfFirstView(const std::vector<Control>& controls, PlaceOf placeOf,
                                     int viewWidth, int viewHeight) {
    struct Box {
        int left, top, right, bottom;
        bool Empty() const { return left >= right || top >= bottom; }
    };
    // Each placed control's window origin and the part of it that can be seen,
    // both in the window's client coordinates.
    struct Seen {
        int x, y;
        Box visible;
    };
    std::map<std::string, Seen, std::less<>> seen;
    std::set<std::string> out;
    const Box view{0, 0, viewWidth, viewHeight};
    for (const Control& c : controls) {
        const std::optional<engine::TwipRect> place = placeOf(c.name);
        if (!place) continue;
        int x = place->x;
        int y = place->y;
        Box clip = view;
        if (!c.container.empty()) {
            const auto holder = seen.find(c.container);
            if (holder != seen.end()) {
                x += holder->second.x;
                y += holder->second.y;
                clip = holder->second.visible;
            }
        }
        Box visible{std::max(x, clip.left), std::max(y, clip.top),
                    std::min(x + place->width, clip.right),
                    std::min(y + place->height, clip.bottom)};
        if (visible.Empty()) {
            out.insert(c.name);
            visible = {0, 0, 0, 0};
        }
        seen[c.name] = {x, y, visible};
    }
    return out;
}

}  // namespace busdesk::win32
