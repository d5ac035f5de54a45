#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The dialog and form templates, in dialog units, as the resource compiler would hold
// them. Widgets are laid out from these, so positions, ids and help ids live in one place.

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    OwnerDrawButton,
    CheckBox,
    RadioButton,
    GroupBox,
    Static,
    Icon,
    DropDownList,
    ReportList,
    Edit,
};

enum ControlStyle : unsigned {
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kMultiLine = 1u << 2,
    kBorder = 1u << 3,
    kVScroll = 1u << 4,
    kHScroll = 1u << 5,
    kAutoVScroll = 1u << 6,
    kAutoHScroll = 1u << 7,
    kWantReturn = 1u << 8,
    kMultiSelect = 1u << 9,
    kNoPrefix = 1u << 10,
    kPassword = 1u << 11, // an edit that shows a mask for each character
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string_view text;
    int x, y, width, height;
    unsigned style;
    std::uint32_t helpId; // 0: none
};

struct DialogTemplate {
    int id;
    std::string_view caption; // empty for a child form
    int width, height;
    std::string_view font;
    int pointSize;
    bool childForm;
    bool contextHelpButton;
    std::vector<ControlTemplate> controls; // template order, which is tab order
};

// Null for an id that has no template.
const DialogTemplate* FindDialogTemplate(int id);
const std::vector<const DialogTemplate*>& AllDialogTemplates();
const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int controlId);
