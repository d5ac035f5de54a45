#include "BrowseOptionsDlg.h"

#include <commctrl.h>

#include "Picker.h"
#include "Resource.h"

namespace {

// Posted by WM_INITDIALOG: the list is fetched once the dialog shows, as on the Qt side.
constexpr UINT kFill = WM_APP + 1;

void AddColumn(HWND list, int index, const std::string& heading, int width) {
    std::wstring text = Wide(heading);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = MulDiv(width, static_cast<int>(GetDpiForWindow(list)), 96);
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int row, int column, const std::string& latin1) {
    std::wstring text = Wide(latin1);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(list, column ? LVM_SETITEMTEXTW : LVM_INSERTITEMW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

} // namespace

CBrowseOptionsDlg::CBrowseOptionsDlg(HWND parent) : CTemplateDialog(parent, IDD_BROWSE_OPTIONS) {}

bool CBrowseOptionsDlg::OnInitDialog() {
    const auto kind = PickerKind(m_strListType);
    if (!kind) {
        SetWindowTextW(Window(), L"");
        return true;
    }
    const auto texts = PickerTextsOf(*kind);
    SetWindowTextW(Window(), Wide(texts.caption).c_str());
    HWND list = Item(IDC_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    AddColumn(list, 0, texts.nameHeading, kPickerNameWidth);
    AddColumn(list, 1, texts.descriptionHeading, kPickerDescriptionWidth);
    PostMessageW(Window(), kFill, 0, 0);
    return true;
}

void CBrowseOptionsDlg::Fill() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    auto picker = LoadPickerList(*PickerKind(m_strListType));
    SetCursor(previous);
    if (picker.close) {
        End(IDCANCEL);
        return;
    }
    m_arrEntries = std::move(picker.entries);
    HWND list = Item(IDC_LIST);
    int row = 0;
    for (const auto& entry : m_arrEntries) {
        SetCell(list, row, 0, entry.name);
        SetCell(list, row++, 1, entry.description);
    }
    if (!picker.emptyText.empty())
        SetCell(list, row, 0, picker.emptyText); // refused as a selection below
}

void CBrowseOptionsDlg::OnOk() {
    std::vector<int> rows;
    HWND list = Item(IDC_LIST);
    for (int row = -1; (row = static_cast<int>(SendMessageW(
                            list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) >= 0;)
        rows.push_back(row);
    m_arrSelected = PickedNames(m_arrEntries, rows);
    End(IDOK);
}

bool CBrowseOptionsDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR& result) {
    if (message == kFill) {
        Fill();
        return true;
    }
    // A row past the entries says why there are none: it cannot be selected.
    if (message == WM_NOTIFY) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change->hdr.idFrom == IDC_LIST && change->hdr.code == LVN_ITEMCHANGING &&
            (change->uNewState & LVIS_SELECTED) && change->iItem >= 0 &&
            static_cast<std::size_t>(change->iItem) >= m_arrEntries.size()) {
            result = TRUE;
            return true;
        }
    }
    return false;
}
