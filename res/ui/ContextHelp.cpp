#include "ContextHelp.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "Strings.h"
#include "TemplateWidgets.h"

namespace {

class PopupHelpPresenter final : public IHelpPresenter {
  public:
    void ShowTopic(quint32 contextId, const QPoint& globalPos) override {
        const auto text = ReflowHelpText(HelpTopicText(contextId).toStdString());
        QWhatsThis::showText(globalPos, Qt::convertFromPlainText(QString::fromUtf8(text.c_str()),
                                                                 Qt::WhiteSpaceNormal));
    }
    void ShowContents() override {
        static QPointer<QDialog> window;
        if (!window) {
            window = new QDialog(QApplication::activeWindow());
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->setWindowTitle(QString::fromLatin1(LoadString(IDS_APP_TITLE).c_str()) +
                                   QStringLiteral(" Help"));
            auto* text = new QTextBrowser(window);
            text->setPlainText(QString::fromUtf8(ReflowHelpText(TheHelpTopics().contents).c_str()));
            auto* layout = new QVBoxLayout(window);
            layout->addWidget(text);
            window->resize(560, 420);
        }
        window->show();
        window->raise();
    }
};

PopupHelpPresenter popupPresenter;
IHelpPresenter* currentPresenter = &popupPresenter;

QPoint CenterOf(const QWidget* widget) {
    return widget->mapToGlobal(widget->rect().center());
}

bool HasHelpButton(const QWidget* window) {
    return qobject_cast<const QDialog*>(window) &&
           (window->windowFlags() & Qt::WindowContextHelpButtonHint);
}

// The command behind a toolbar button or a menu item; null for anything else.
const QAction* CommandAt(QWidget* widget, const QPoint& globalPos) {
    const QAction* action = nullptr;
    if (auto* button = qobject_cast<QToolButton*>(widget))
        action = button->defaultAction();
    else if (auto* menu = qobject_cast<QMenu*>(widget))
        action = menu->actionAt(menu->mapFromGlobal(globalPos));
    return action && action->data().isValid() ? action : nullptr;
}

void CloseMenus() {
    while (QWidget* popup = QApplication::activePopupWidget())
        if (!popup->close())
            break;
}

// Answers help requests for the whole application.
class ContextHelpFilter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(object);
        if (!widget)
            return false;
        switch (event->type()) {
        case QEvent::QueryWhatsThis:
            event->accept(); // every place has an answer, if only the default one
            return true;
        case QEvent::WhatsThis:
            return OnClick(widget, static_cast<QHelpEvent*>(event)->globalPos());
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            return OnMenuClick(widget, static_cast<QMouseEvent*>(event));
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier)
                return OnF1(widget);
            if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::ShiftModifier &&
                HasHelpButton(widget->window())) {
                // what the caption's help button does, for window managers that show none
                QWhatsThis::enterWhatsThisMode();
                return true;
            }
            return false;
        }
        default:
            return false;
        }
    }

  private:
    // A menu takes help-mode clicks itself and would show its item's "What's This" text;
    // here the item's command names the topic, when the button comes up, as an item is
    // chosen. A release after the press that opened the menu is no click on it.
    bool OnMenuClick(QWidget* widget, const QMouseEvent* mouse) {
        auto* menu = qobject_cast<QMenu*>(widget);
        if (!menu || !QWhatsThis::inWhatsThisMode())
            return false;
        if (mouse->type() == QEvent::MouseButtonPress) {
            pressedMenu_ = menu;
            return true;
        }
        if (pressedMenu_ != menu)
            return false;
        pressedMenu_ = nullptr;
        return OnClick(menu, mouse->globalPosition().toPoint());
    }

    // A click in context-help mode answers once and runs nothing: a toolbar button or a
    // menu item by its command's topic, the main window by its hit-test table, a dialog
    // by the id its control carries.
    static bool OnClick(QWidget* widget, const QPoint& globalPos) {
        QWhatsThis::leaveWhatsThisMode();
        const QAction* command = CommandAt(widget, globalPos);
        if (command || qobject_cast<QMenu*>(widget)) {
            CloseMenus();
            return OnHelpInfo(
                command ? kCommandHelpBase + command->data().toUInt() : kDefaultHelpId, globalPos);
        }
        QWidget* top = widget->window();
        const auto* hitTest = dynamic_cast<const IHelpHitTest*>(top);
        if (hitTest && !qobject_cast<QDialog*>(top))
            return OnHelpInfo(hitTest->HelpHitTest(top->mapFromGlobal(globalPos)), globalPos);
        return OnHelpInfo(HelpIdOf(widget), globalPos);
    }

    static bool OnF1(QWidget* widget) {
        if (auto* menu = qobject_cast<QMenu*>(widget)) {
            const QAction* action = menu->activeAction();
            const quint32 id = action && action->data().isValid()
                                   ? kCommandHelpBase + action->data().toUInt()
                                   : kDefaultHelpId;
            const QPoint where =
                action ? menu->mapToGlobal(menu->actionGeometry(menu->activeAction()).center())
                       : CenterOf(menu);
            return OnHelpInfo(id, where);
        }
        if (!HasHelpButton(widget->window()))
            return false; // the main window answers F1 by its own accelerator
        // the key went to the control with the focus
        return OnHelpInfo(HelpIdOf(widget), CenterOf(widget));
    }

    QPointer<QMenu> pressedMenu_;
};

} // namespace

void SetHelpPresenter(IHelpPresenter* presenter) {
    currentPresenter = presenter ? presenter : &popupPresenter;
}

IHelpPresenter& HelpPresenter() {
    return *currentPresenter;
}

const HelpTopics& TheHelpTopics() {
    static const HelpTopics topics = [] {
        QFile file(QStringLiteral(":/help/topics"));
        if (!file.open(QIODevice::ReadOnly))
            return HelpTopics{};
        const QByteArray text = file.readAll();
        auto load = ParseHelpTopics(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
        return load.topics ? *load.topics : HelpTopics{};
    }();
    return topics;
}

QString HelpTopicText(quint32 contextId) {
    const auto topic = TheHelpTopics().Topic(contextId);
    return QString::fromUtf8(topic ? topic->c_str() : kNoHelpTopic);
}

bool OnHelpInfo(quint32 contextId, const QPoint& globalPos) {
    HelpPresenter().ShowTopic(contextId, globalPos);
    return true;
}

quint32 HelpIdOf(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (const quint32 id = HelpId(w))
            return id;
    return 0;
}

void InstallContextHelp() {
    static ContextHelpFilter* filter = nullptr;
    if (!filter && qApp) {
        filter = new ContextHelpFilter(qApp);
        qApp->installEventFilter(filter);
    }
}
