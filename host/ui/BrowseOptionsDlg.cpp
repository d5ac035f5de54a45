#include "BrowseOptionsDlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QPushButton>
#include <QTreeWidget>

#include "Picker.h"
#include "QtMessagePresenter.h"
#include "Resource.h"
#include "TemplateWidgets.h"

namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

// Without a parent the dialog belongs to the main window, as the other dialogs do: it
// opens centred over it and stays above it.
CBrowseOptionsDlg::CBrowseOptionsDlg(QWidget* parent) : QDialog(parent ? parent : DialogParent()) {
    InstallContextHelp();
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_BROWSE_OPTIONS));
    m_listCtrl = Control<QTreeWidget>(this, IDC_LIST);
    m_listCtrl->setColumnCount(0);
    m_listCtrl->setHeaderHidden(false);
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CBrowseOptionsDlg::accept);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

void CBrowseOptionsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
}

void CBrowseOptionsDlg::OnInitDialog() {
    const auto kind = PickerKind(m_strListType);
    if (!kind) {
        setWindowTitle(QString());
        return;
    }
    const auto texts = PickerTextsOf(*kind);
    setWindowTitle(Latin1(texts.caption));
    m_listCtrl->setHeaderLabels({Latin1(texts.nameHeading), Latin1(texts.descriptionHeading)});
    m_listCtrl->header()->resizeSection(0, kPickerNameWidth);
    m_listCtrl->header()->resizeSection(1, kPickerDescriptionWidth);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto list = LoadPickerList(*kind);
    QApplication::restoreOverrideCursor();
    if (list.close) {
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
        return;
    }
    m_arrEntries = std::move(list.entries);
    for (const auto& entry : m_arrEntries) {
        auto* row = new QTreeWidgetItem(m_listCtrl);
        row->setText(0, Latin1(entry.name));
        row->setText(1, Latin1(entry.description));
    }
    if (!list.emptyText.empty()) {
        auto* row = new QTreeWidgetItem(m_listCtrl);
        row->setText(0, Latin1(list.emptyText));
        row->setFlags(Qt::NoItemFlags);
        row->setFirstColumnSpanned(true);
    }
}

void CBrowseOptionsDlg::accept() {
    std::vector<int> rows;
    for (int i = 0; i < m_listCtrl->topLevelItemCount(); ++i)
        if (m_listCtrl->topLevelItem(i)->isSelected())
            rows.push_back(i);
    m_arrSelected = PickedNames(m_arrEntries, rows);
    QDialog::accept();
}

quint32 CBrowseOptionsDlg::HelpHitTest(const QPoint& clientPoint) const {
    if (const auto* parent = dynamic_cast<const IHelpHitTest*>(parentWidget()))
        return parent->HelpHitTest(clientPoint);
    return kDefaultHelpId;
}
