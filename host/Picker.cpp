#include "Picker.h"

#include <algorithm>

#include "ProcessState.h"
#include "Strings.h"

std::optional<ListKind> PickerKind(std::string_view listType) {
    const auto last = listType.find_last_not_of(" \t\r\n\v\f");
    listType = listType.substr(0, last == std::string_view::npos ? 0 : last + 1);
    if (listType == "*RCPL")
        return ListKind::Recipients;
    if (listType == "*GRPL")
        return ListKind::Groups;
    return std::nullopt;
}

PickerTexts PickerTextsOf(ListKind kind) {
    const bool recipients = kind == ListKind::Recipients;
    return {LoadString(recipients ? IDS_SELECT_RECIPIENTS : IDS_SELECT_GROUPS),
            LoadString(recipients ? IDS_RECIPIENT_HEADING : IDS_GROUP_HEADING),
            LoadString(recipients ? IDS_DESCRIPTION_HEADING : IDS_GROUP_DESCRIPTION_HEADING)};
}

PickerList LoadPickerList(ListKind kind) {
    ListOutcome list;
    const auto outcome = RunAndShow(ListProgress(kind, CurrentSystem), [&list, kind]() -> Outcome {
        list = FetchList(kind);
        return list.outcome;
    });
    PickerList picker;
    if (outcome.cause == Outcome::Cause::Cancelled) {
        picker.close = true; // nothing was listed, so nothing can be added to To:
        return picker;
    }
    if (outcome.Done()) {
        picker.entries = std::move(list.entries);
        if (picker.entries.empty())
            picker.emptyText = EmptyListText(kind, CurrentSystem);
    }
    return picker;
}

std::vector<std::string> PickedNames(const std::vector<ListItem>& entries,
                                     const std::vector<int>& selectedRows) {
    std::vector<int> rows = selectedRows;
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> names;
    for (const int row : rows)
        if (row >= 0 && static_cast<std::size_t>(row) < entries.size())
            names.push_back(entries[static_cast<std::size_t>(row)].name);
    return names;
}
