#include "ChangeSystemDlg.h"

#include <QComboBox>
#include <QPushButton>

#include "Resource.h"
#include "SystemSelection.h"
#include "TemplateWidgets.h"

CChangeSystemDlg::CChangeSystemDlg(QWidget* parent) : QDialog(parent) {
    InstallContextHelp();
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_CHANGE_SYSTEM));
    systems_ = Control<QComboBox>(this, IDC_SYSTEM_LIST);
    choices_ = LoadSystemChoices();
    for (const auto& name : choices_.names)
        systems_->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    // a combo box selects its first entry by itself; the choice decides here
    systems_->setCurrentIndex(choices_.selection);
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CChangeSystemDlg::accept);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

void CChangeSystemDlg::accept() {
    AcceptSystemChoice(choices_, systems_->currentIndex());
    QDialog::accept();
}

quint32 CChangeSystemDlg::HelpHitTest(const QPoint& clientPoint) const {
    const quint32 id = HelpIdOf(childAt(clientPoint));
    return id ? id : kDefaultHelpId;
}
