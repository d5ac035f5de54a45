#include "BrowseOptionsDlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QPushButton>
#include <QTreeWidget>

#include "MessagePresenter.h"
#include "Operations.h"
#include "ProcessState.h"
#include "QtMessagePresenter.h"
#include "Resource.h"
#include "Strings.h"
#include "TemplateWidgets.h"

namespace {

std::string TrimRight(std::string text) {
    const auto last = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

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
    const std::string type = TrimRight(m_strListType);
    if (type != "*RCPL" && type != "*GRPL") {
        setWindowTitle(QString()); // a list type the program never asks for lists nothing
        return;
    }
    const bool recipients = type == "*RCPL";
    setWindowTitle(Latin1(LoadString(recipients ? IDS_SELECT_RECIPIENTS : IDS_SELECT_GROUPS)));
    m_listCtrl->setHeaderLabels(
        {Latin1(LoadString(recipients ? IDS_RECIPIENT_HEADING : IDS_GROUP_HEADING)),
         Latin1(LoadString(recipients ? IDS_DESCRIPTION_HEADING : IDS_GROUP_DESCRIPTION_HEADING))});
    m_listCtrl->header()->resizeSection(0, 100);
    m_listCtrl->header()->resizeSection(1, 300);
    const auto kind = recipients ? ListKind::Recipients : ListKind::Groups;
    ListOutcome list;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto outcome = RunAndShow(ListProgress(kind, CurrentSystem), [&list, kind]() -> Outcome {
        list = FetchList(kind);
        return list.outcome;
    });
    QApplication::restoreOverrideCursor();
    if (outcome.cause == Outcome::Cause::Cancelled) {
        // Nothing was listed, so nothing can be added to To:.
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
        return;
    }
    if (outcome.Done())
        m_arrEntries = std::move(list.entries);
    for (const auto& entry : m_arrEntries) {
        auto* row = new QTreeWidgetItem(m_listCtrl);
        row->setText(0, Latin1(entry.name));
        row->setText(1, Latin1(entry.description));
    }
    if (outcome.Done() && m_arrEntries.empty()) {
        // Said in the list itself, on a row that cannot be picked.
        auto* row = new QTreeWidgetItem(m_listCtrl);
        row->setText(0, Latin1(EmptyListText(kind, CurrentSystem)));
        row->setFlags(Qt::NoItemFlags);
        row->setFirstColumnSpanned(true);
    }
}

void CBrowseOptionsDlg::accept() {
    const std::string type = TrimRight(m_strListType);
    m_arrSelected.clear();
    for (int i = 0; i < m_listCtrl->topLevelItemCount(); ++i) {
        auto* row = m_listCtrl->topLevelItem(i);
        if (row->isSelected() && (type == "*RCPL" || type == "*GRPL"))
            m_arrSelected.push_back(row->text(0).toLatin1().toStdString());
    }
    QDialog::accept();
}

quint32 CBrowseOptionsDlg::HelpHitTest(const QPoint& clientPoint) const {
    if (const auto* parent = dynamic_cast<const IHelpHitTest*>(parentWidget()))
        return parent->HelpHitTest(clientPoint);
    return kDefaultHelpId;
}
