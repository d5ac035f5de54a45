#pragma once

#include "DialogSupport.h"

// Dialog 100: the program's name, version and notice; closes with OK, Enter or Esc.
class CAboutDlg : public CTemplateDialog {
  public:
    explicit CAboutDlg(HWND parent);

  protected:
    bool OnInitDialog() override;
};
