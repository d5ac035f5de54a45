#include "MessageBoxPresenter.h"

#include <commctrl.h>

#undef LoadString // the string table's, not the module's resources
#include "Strings.h"
#include "Win32Text.h"

namespace {

int ShowBox(HWND owner, std::string_view text, UINT buttons) {
    return MessageBoxW(owner, Wide(text).c_str(), Wide(LoadString(IDS_APP_TITLE)).c_str(),
                       MB_ICONEXCLAMATION | buttons);
}

} // namespace

void CMessageBoxPresenter::ShowMessage(std::string_view text) {
    ShowBox(owner_, text, MB_OK);
}

bool CMessageBoxPresenter::AskYesNo(std::string_view text) {
    return ShowBox(owner_, text, MB_YESNO) == IDYES;
}

void CMessageBoxPresenter::ShowStatus(std::string_view text) {
    if (statusBar_)
        SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}
