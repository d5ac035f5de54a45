#include "ContextHelp.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTextBrowser>
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
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier)
                return OnF1(widget);
            return false;
        }
        default:
            return false;
        }
    }

  private:
    // A click in context-help mode: the main window answers by its hit-test table, a
    // dialog by the id its control carries.
    static bool OnClick(QWidget* widget, const QPoint& globalPos) {
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
        auto* dialog = qobject_cast<QDialog*>(widget->window());
        if (!dialog || !(dialog->windowFlags() & Qt::WindowContextHelpButtonHint))
            return false; // F1 in the main window reaches no handler
        // the key went to the control with the focus
        return OnHelpInfo(HelpIdOf(widget), CenterOf(widget));
    }
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
