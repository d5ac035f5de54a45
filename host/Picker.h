#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ListItem.h"
#include "Operations.h"

// The recipient and group picker's decisions: which list a list type asks for, what the
// dialog says about it, what it lists and what OK hands back.

// "*RCPL" or "*GRPL", blank-padded or not; nullopt for any other type, which lists nothing
// (the dialog then shows no caption and no rows).
std::optional<ListKind> PickerKind(std::string_view listType);

// Latin-1 texts of the picker for a kind: its caption and its two column headings.
struct PickerTexts {
    std::string caption;
    std::string nameHeading;
    std::string descriptionHeading;
};
PickerTexts PickerTextsOf(ListKind kind);

// The column widths, in pixels of a 96-dpi screen.
inline constexpr int kPickerNameWidth = 100;
inline constexpr int kPickerDescriptionWidth = 300;

// The list of CurrentSystem as the dialog opens, fetched with the window's progress and
// boxes (RunAndShow). `close`: the user cancelled, nothing was listed, the dialog closes
// as cancelled. `emptyText`: the host listed nothing; the dialog says so on one row that
// cannot be picked, after the entries (there are none).
struct PickerList {
    bool close = false;
    std::vector<ListItem> entries;
    std::string emptyText;
};
PickerList LoadPickerList(ListKind kind);

// What OK hands back: the names of the entries on the selected rows, in row order. A row
// past the entries (the empty list's) gives nothing.
std::vector<std::string> PickedNames(const std::vector<ListItem>& entries,
                                     const std::vector<int>& selectedRows);
