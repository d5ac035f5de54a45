#include "TopPaneView.h"

#include <QRadioButton>

#include "BitmapButton.h"
#include "ExtEdit.h"
#include "Resource.h"
#include "SendRules.h"
#include "SystemSelection.h"
#include "TemplateWidgets.h"

QRadioButton* RecipientsRadio = nullptr;

namespace {

QWidget* MakeControl(const ControlTemplate& control, QWidget* host) {
    if (control.id == IDC_TO)
        return new CExtEdit(IDC_TO, true, host);
    if (control.id == IDC_SUBJECT) {
        auto* subject = new CExtEdit(IDC_SUBJECT, false, host);
        subject->document()->setDocumentMargin(1);
        return subject;
    }
    if (control.id == IDC_BTN_TO) {
        auto* button = new CBitmapButton(host);
        button->LoadBitmaps(QStringLiteral("IDB_BTNTO")); // a missing picture is not reported
        return button;
    }
    return nullptr;
}

} // namespace

void CTopPaneView::SetPicker(Picker picker) {
    picker_ = std::move(picker);
}

CTopPaneView::CTopPaneView(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    form_ = new QWidget;
    const auto& form = *FindDialogTemplate(IDD_ADDRESS_FORM);
    const DialogUnits units = ApplyDialogTemplate(form_, form, MakeControl);
    form_->setFixedSize(units.Size(form.width, form.height));
    setWidget(form_);
    setWidgetResizable(false);
    m_radioRecipients = Control<QRadioButton>(form_, IDC_RECIPIENTS);
    m_btnTo = Control<CBitmapButton>(form_, IDC_BTN_TO);
    m_editTo = Control<CExtEdit>(form_, IDC_TO);
    m_editSubject = Control<CExtEdit>(form_, IDC_SUBJECT);
    connect(m_btnTo, &QAbstractButton::clicked, this, &CTopPaneView::OnToButton);
}

CTopPaneView::~CTopPaneView() {
    // the Send command must never reach a button that is gone
    if (RecipientsRadio == m_radioRecipients)
        RecipientsRadio = nullptr;
}

QRadioButton* CTopPaneView::Groups() const {
    return Control<QRadioButton>(form_, IDC_GROUPS);
}

void CTopPaneView::OnInitialUpdate() {
    ToEdit = m_editTo;
    SubjectEdit = m_editSubject;
    RecipientsRadio = m_radioRecipients;
    m_editSubject->SetLimitText(kSubjectLimit);
    m_editTo->SetLimitText(kToLimit);
    ChooseStartupSystem();
    m_radioRecipients->setChecked(true);
}

void CTopPaneView::OnToButton() {
    const std::string listType = PickerListType(m_radioRecipients->isChecked());
    std::vector<std::string> picked;
    if (!picker_ || picker_(listType, picked) != 1) // anything but OK leaves To: alone
        return;
    m_editTo->SetWindowText(AppendPickedNames(m_editTo->WindowText(), picked));
}
