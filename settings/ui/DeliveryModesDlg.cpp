#include "DeliveryModesDlg.h"

#include <QCheckBox>
#include <QPushButton>

#include "DeliveryModeBoxes.h"
#include "Resource.h"
#include "TemplateWidgets.h"

CDeliveryModesDlg::CDeliveryModesDlg(QWidget* parent) : QDialog(parent) {
    InstallContextHelp();
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_DELIVERY_MODES));
    const auto ticked = CurrentDeliveryModeBoxes();
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i) {
        boxes_[i] = Control<QCheckBox>(this, kDeliveryModeBoxIds[i]);
        boxes_[i]->setChecked(ticked[i]);
    }
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CDeliveryModesDlg::accept);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* CDeliveryModesDlg::Box(int controlId) const {
    return Control<QCheckBox>(this, controlId);
}

void CDeliveryModesDlg::accept() {
    DeliveryModeBoxes ticked{};
    for (std::size_t i = 0; i < kDeliveryModeBoxCount; ++i)
        ticked[i] = boxes_[i]->isChecked();
    if (AcceptDeliveryModes(ticked))
        QDialog::accept();
}

quint32 CDeliveryModesDlg::HelpHitTest(const QPoint& clientPoint) const {
    if (const auto* parent = dynamic_cast<const IHelpHitTest*>(parentWidget()))
        return parent->HelpHitTest(clientPoint);
    return kDefaultHelpId;
}
