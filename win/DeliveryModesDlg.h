#pragma once

#include "DialogSupport.h"

// Dialog 148: which delivery modes the host is to use from now on, and whether the next
// start restores them. OK refuses an empty selection, else stores and saves.
class CDeliveryModesDlg : public CTemplateDialog {
  public:
    explicit CDeliveryModesDlg(HWND parent);

  protected:
    bool OnInitDialog() override;
    void OnOk() override;
};
