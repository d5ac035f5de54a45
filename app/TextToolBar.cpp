#include "TextToolBar.h"

#include <QAction>
#include <QPixmap>
#include <QToolButton>

#include "Resource.h"
#include "Strings.h"

namespace {

constexpr int kImageWidth = 22;
constexpr int kImageHeight = 19;
// toolbar 128: command ids in order, 0 for a separator; images in order, skipping separators
constexpr int kButtons[] = {ID_SEND, 0, ID_APP_ABOUT, ID_CONTEXT_HELP};

} // namespace

CTextToolBar::CTextToolBar(QWidget* parent) : QToolBar(parent) {
    setObjectName(QStringLiteral("toolbar"));
    setProperty("controlId", ID_VIEW_TOOLBAR);
    setIconSize(QSize(kImageWidth, kImageHeight));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

std::string CTextToolBar::LabelFromString(const std::string& text) {
    return LastStringField(text);
}

std::string CTextToolBar::ButtonLabel(int commandId) {
    if (commandId == 0)
        return {};
    const auto text =
        LoadString(commandId == ID_SEND ? IDS_SEND_LABEL : static_cast<unsigned>(commandId));
    return text.empty() ? std::string() : LabelFromString(text);
}

bool CTextToolBar::LoadToolBar(unsigned id, const std::function<QAction*(int)>& action) {
    if ((id & 0xFFFF) != IDR_MAINFRAME)
        return false;
    const QPixmap strip(QStringLiteral(":/images/toolbar"));
    if (strip.isNull())
        return false;
    int image = 0;
    for (int command : kButtons) {
        if (command == 0) {
            addSeparator();
            continue;
        }
        QAction* commandAction = action(command);
        if (!commandAction)
            return false;
        // the button shows the strip's picture and the short label (the action's icon
        // text); its tooltip stays the command's own
        const auto label = ButtonLabel(command);
        commandAction->setIconText(
            QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
        commandAction->setIcon(
            QIcon(strip.copy(image++ * kImageWidth, 0, kImageWidth, kImageHeight)));
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
