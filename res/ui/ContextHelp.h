#pragma once

#include <QPoint>
#include <QString>

#include "HelpTopics.h"

class QWidget;

// Context help over Qt's What's This machinery: a click in context-help mode (Shift+F1,
// the toolbar's Help, a dialog's caption help button), F1 in a dialog and F1 on an open
// menu each end in a pop-up topic of the help file. F1 in the main window is the frame's
// own command.

class IHelpPresenter {
  public:
    virtual ~IHelpPresenter() = default;
    virtual void ShowTopic(quint32 contextId, const QPoint& globalPos) = 0;
    virtual void ShowContents() = 0;
};
// Null restores the pop-up presenter.
void SetHelpPresenter(IHelpPresenter* presenter);
IHelpPresenter& HelpPresenter();

// A window that names the help context of a point in its client area.
class IHelpHitTest {
  public:
    virtual ~IHelpHitTest() = default;
    virtual quint32 HelpHitTest(const QPoint& clientPoint) const = 0;
};

const HelpTopics& TheHelpTopics();
// The topic's text, or the plain "no topic" line for an id the file does not have.
QString HelpTopicText(quint32 contextId);

// The shared help handler: shows the topic of `contextId` as a pop-up; always true.
bool OnHelpInfo(quint32 contextId, const QPoint& globalPos);

// The help context id a widget carries, or that of its nearest ancestor below its window
// that carries one; 0 for none.
quint32 HelpIdOf(const QWidget* widget);

// Installs, once, the application-wide filter that answers help requests.
void InstallContextHelp();
