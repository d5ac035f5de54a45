#include "ChangeSystemDlg.h"

#include "Resource.h"

CChangeSystemDlg::CChangeSystemDlg(HWND parent) : CTemplateDialog(parent, IDD_CHANGE_SYSTEM) {}

bool CChangeSystemDlg::OnInitDialog() {
    choices_ = LoadSystemChoices();
    HWND list = Item(IDC_SYSTEM_LIST);
    for (const auto& name : choices_.names)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(choices_.selection), 0);
    return true;
}

void CChangeSystemDlg::OnOk() {
    const auto index = SendMessageW(Item(IDC_SYSTEM_LIST), CB_GETCURSEL, 0, 0);
    AcceptSystemChoice(choices_, index == CB_ERR ? -1 : static_cast<int>(index));
    End(IDOK);
}
