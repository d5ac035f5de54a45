#include "DeliveryModesDlg.h"

#include "DeliveryModeBoxes.h"
#include "Resource.h"

CDeliveryModesDlg::CDeliveryModesDlg(HWND parent) : CTemplateDialog(parent, IDD_DELIVERY_MODES) {}

bool CDeliveryModesDlg::OnInitDialog() {
    const auto ticked = CurrentDeliveryModeBoxes();
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i)
        CheckDlgButton(Window(), kDeliveryModeBoxIds[i], ticked[i] ? BST_CHECKED : BST_UNCHECKED);
    return true;
}

void CDeliveryModesDlg::OnOk() {
    DeliveryModeBoxes ticked{};
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i)
        ticked[i] = IsDlgButtonChecked(Window(), kDeliveryModeBoxIds[i]) == BST_CHECKED;
    if (AcceptDeliveryModes(ticked))
        End(IDOK);
}
