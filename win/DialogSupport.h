#pragma once

#include <windows.h>
// LoadString is the string table's (Strings.h), not the resource loader of windows.h.
#undef LoadString

#include <string>
#include <string_view>

#include "DialogTemplates.h"
#include "Utf16.h"
#include "Win32Text.h"

// What every dialog of the window shares: the texts crossing to the pure layers, and a
// modal dialog run from its template in res/.

// A control's text in UTF-8 (user ids and passwords), its copies wiped.
std::string Utf8Text(HWND window);

// A modal dialog from its template, with the template's help ids, context help (WM_HELP)
// and Cancel closing it. A subclass draws and reads its controls and forwards to the pure
// layers.
class CTemplateDialog {
  public:
    CTemplateDialog(HWND parent, int templateId);
    virtual ~CTemplateDialog() = default;
    CTemplateDialog(const CTemplateDialog&) = delete;
    CTemplateDialog& operator=(const CTemplateDialog&) = delete;

    // IDOK or IDCANCEL; -1 when the dialog could not be made.
    INT_PTR DoModal();

  protected:
    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    const DialogTemplate& Template() const { return template_; }
    void End(INT_PTR result) { EndDialog(window_, result); }
    void Focus(int id) {
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
    }

    // After the controls are made and their help ids set. True: the dialog manager
    // gives the first tab stop the focus; false: the subclass chose one.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOk() { End(IDOK); }
    // Any other message; true when handled, with `result` the dialog procedure's answer.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }

  private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND parent_;
    const DialogTemplate& template_;
    HWND window_ = nullptr;
};
