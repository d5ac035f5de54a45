#include "DialogSupport.h"

#include <stdexcept>

#include "DialogTemplate.h"
#include "HelpPopup.h"
#include "Secrets.h"
#include "Strings.h"

std::string Utf8Text(HWND window) {
    std::wstring wide = WindowWide(window);
    std::string utf8 = tavo::platform::Narrow(wide);
    tavo::platform::WipeSecret(wide);
    return utf8;
}

CTemplateDialog::CTemplateDialog(HWND parent, int templateId)
    : parent_(parent), template_(*FindDialogTemplate(templateId)) {}

INT_PTR CTemplateDialog::DoModal() {
    const auto bytes = BuildDialogTemplate(template_);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                   reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), parent_,
                                   &CTemplateDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTemplateDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CTemplateDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        ApplyHelpIds(window, self->template_);
        return self->OnInitDialog() ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<CTemplateDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
            self->OnOk();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            self->End(IDCANCEL);
            return TRUE;
        }
        break;
    case WM_HELP: {
        const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
        ShowHelpTopic(window, static_cast<std::uint32_t>(info->dwContextId), info->MousePos);
        return TRUE;
    }
    default:
        break;
    }
    INT_PTR result = 0;
    if (self->OnMessage(message, wParam, lParam, result)) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    return FALSE;
}
