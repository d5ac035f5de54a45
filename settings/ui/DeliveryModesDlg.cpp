#include "DeliveryModesDlg.h"

#include <QCheckBox>
#include <QPushButton>

#include "MessagePresenter.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SettingsFile.h"
#include "Strings.h"
#include "TemplateWidgets.h"

namespace {

constexpr int kBoxIds[8] = {IDC_PAGER,         IDC_EMAIL,     IDC_FAX,          IDC_NETWORK_MESSAGE,
                            IDC_MESSAGE_QUEUE, IDC_TELEPHONE, IDC_SPOOLED_FILE, IDC_SAVE_SETTINGS};

int* const Fields[8] = {&DeliveryModes.Pager,        &DeliveryModes.Email,
                        &DeliveryModes.Fax,          &DeliveryModes.NetworkMessage,
                        &DeliveryModes.MessageQueue, &DeliveryModes.Telephone,
                        &DeliveryModes.SpooledFile,  &DeliveryModes.SaveSettings};

} // namespace

CDeliveryModesDlg::CDeliveryModesDlg(QWidget* parent) : QDialog(parent) {
    InstallContextHelp();
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_DELIVERY_MODES));
    for (int i = 0; i < 8; ++i) {
        boxes_[i] = Control<QCheckBox>(this, kBoxIds[i]);
        boxes_[i]->setChecked(*Fields[i] == 1);
    }
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CDeliveryModesDlg::accept);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* CDeliveryModesDlg::Box(int controlId) const {
    return Control<QCheckBox>(this, controlId);
}

void CDeliveryModesDlg::accept() {
    bool anyMode = false;
    for (int i = 0; i < 7; ++i)
        anyMode = anyMode || boxes_[i]->isChecked();
    if (!anyMode) {
        ShowMessageBox(LoadString(IDS_SELECT_DELIVERY_MODE));
        return;
    }
    for (int i = 0; i < 8; ++i)
        *Fields[i] = boxes_[i]->isChecked() ? 1 : 0;
    SaveDeliveryModes();
    QDialog::accept();
}

quint32 CDeliveryModesDlg::HelpHitTest(const QPoint& clientPoint) const {
    if (const auto* parent = dynamic_cast<const IHelpHitTest*>(parentWidget()))
        return parent->HelpHitTest(clientPoint);
    return kDefaultHelpId;
}
