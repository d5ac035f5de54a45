#include "TextToolBar.h"

#include <QAction>
#include <QPixmap>
#include <QToolButton>

#include "Menus.h"
#include "Resource.h"

CTextToolBar::CTextToolBar(QWidget* parent) : QToolBar(parent) {
    setObjectName(QStringLiteral("toolbar"));
    setProperty("controlId", ID_VIEW_TOOLBAR);
    setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

bool CTextToolBar::LoadToolBar(unsigned id, const std::function<QAction*(int)>& action) {
    if ((id & 0xFFFF) != IDR_MAINFRAME)
        return false;
    const QPixmap strip(QStringLiteral(":/images/toolbar"));
    if (strip.isNull())
        return false;
    int image = 0;
    for (int command : ToolbarButtons()) {
        if (command == 0) {
            addSeparator();
            continue;
        }
        QAction* commandAction = action(command);
        if (!commandAction)
            return false;
        // the button shows the strip's picture and the short label (the action's icon
        // text); its tooltip stays the command's own
        const auto label = ToolbarButtonLabel(command);
        commandAction->setIconText(
            QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
        commandAction->setIcon(QIcon(
            strip.copy(image++ * kToolbarImageWidth, 0, kToolbarImageWidth, kToolbarImageHeight)));
        auto* button = new QToolButton(this);
        button->setDefaultAction(commandAction);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setProperty("commandId", command);
        addWidget(button);
    }
    QSize largest;
    for (auto* button : findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
        if (button->property("commandId").isValid())
            largest = largest.expandedTo(button->sizeHint());
    for (auto* button : findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
        if (button->property("commandId").isValid())
            button->setFixedSize(largest);
    return true;
}
