#pragma once

#include <string>
#include <vector>

#include "DialogSupport.h"
#include "ListItem.h"

// Dialog 132: the recipient or group list fetched from the host once the dialog shows;
// OK hands back the names of the selected rows, in row order.
class CBrowseOptionsDlg : public CTemplateDialog {
  public:
    explicit CBrowseOptionsDlg(HWND parent);

    std::string m_strListType;              // "*RCPL" or "*GRPL", blank-padded or not
    std::vector<std::string> m_arrSelected; // after OK

  protected:
    bool OnInitDialog() override;
    void OnOk() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

  private:
    void Fill();

    std::vector<ListItem> m_arrEntries;
};
