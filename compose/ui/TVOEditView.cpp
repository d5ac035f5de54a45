#include "TVOEditView.h"

#include "ExtEdit.h"
#include "Resource.h"
#include "SendRules.h"
#include "TemplateWidgets.h"

CTVOEditView::CTVOEditView(QWidget* parent) : QWidget(parent) {
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_BODY_FORM),
                        [](const ControlTemplate& control, QWidget* host) -> QWidget* {
                            if (control.id != IDC_BODY)
                                return nullptr;
                            auto* body = new CExtEdit(IDC_BODY, true, host);
                            body->setFrameShape(QFrame::NoFrame);
                            body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                            body->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                            return body;
                        });
    m_editBody = Control<CExtEdit>(this, IDC_BODY);
    BodyEdit = m_editBody;
}

void CTVOEditView::OnInitialUpdate() {
    m_editBody->SetLimitText(kBodyLimit);
}

void CTVOEditView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_editBody)
        m_editBody->setGeometry(rect());
}
