#include "BotPaneFrame.h"

#include <QVBoxLayout>

#include "Resource.h"
#include "TVOEditView.h"

CBotPaneFrame::CBotPaneFrame(QWidget* parent) : QWidget(parent) {
    view_ = new CTVOEditView(this);
    view_->setProperty("controlId", AFX_IDW_PANE_FIRST);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
}
