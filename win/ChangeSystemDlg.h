#pragma once

#include "DialogSupport.h"
#include "SystemSelection.h"

// Dialog 146: picks the target system among the configured ones. OK makes it current,
// remembers it in an existing settings file and shows it in the main window's title.
class CChangeSystemDlg : public CTemplateDialog {
  public:
    explicit CChangeSystemDlg(HWND parent);

  protected:
    bool OnInitDialog() override;
    void OnOk() override;

  private:
    SystemChoices choices_;
};
