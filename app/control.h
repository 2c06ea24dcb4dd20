#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace busdesk {

enum class ControlKind {
    Label,
    TextBox,
    Frame,
    CommandButton,
    CheckBox,
    OptionButton,
    ComboBox,
    Timer,
    Shape,
    ProgressBar,
};

enum class FontStyle { Normal, Bold, BoldLarger, BoldLarge };

// One control of the window as plain data. Front ends render it; the model
// changes it. Texts are UTF-8.
struct Control {
    std::string name;
    ControlKind kind = ControlKind::Label;
    std::string container;  // name of the frame that holds it; empty: the window
    std::string caption;    // caption (labels, buttons, frames) or text (text and combo boxes)
    std::string toolTip;
    std::string tag;  // group code as decimal text; empty: no group
    bool enabled = true;
    bool visible = true;
    int value = 0;                  // check box and option button 0/1; progress bar position
    std::vector<std::string> list;  // combo box entries
    int listIndex = -1;             // combo box selection, -1: none
    std::uint32_t fillColor = 0;    // shape fill, 0x00BBGGRR
    int interval = 0;               // timer, ms
    int minimum = 0;                // progress bar range
    int maximum = 0;
    FontStyle font = FontStyle::Normal;
    bool multiLine = false;  // text box with a vertical scroll bar
    bool editable = false;   // combo box with an edit field

    bool operator==(const Control&) const = default;

    // The group code as a number; nullopt when empty or not a number.
    std::optional<long> GroupCode() const;
    // The caption without its "&" access-key marker ("&&" stands for "&").
    std::string DisplayCaption() const;
    // The UTF-8 character after the first single "&", or empty.
    std::string AccessKey() const;
    // The text of the selected entry of a combo box, or nullopt.
    std::optional<std::string> SelectedEntry() const;
};

// Colours of the activity lamp, 0x00BBGGRR.
namespace lamp {
inline constexpr std::uint32_t kStart = 0x00FFFF;   // yellow, window just started
inline constexpr std::uint32_t kClosed = 0x10FFFF;  // yellow, port closed
inline constexpr std::uint32_t kWhite = 0xFFFFFF;
inline constexpr std::uint32_t kGrey = 0x808080;
inline constexpr std::uint32_t kRed = 0x0000FF;
}  // namespace lamp

}  // namespace busdesk
