#pragma once

#include <QToolBar>
#include <functional>
#include <string>

class QAction;

// A toolbar whose buttons show a short label under their picture (ToolbarButtonLabel).
// Every button is then made as large as the largest, so the row stays even.
class CTextToolBar : public QToolBar {
    Q_OBJECT
  public:
    explicit CTextToolBar(QWidget* parent = nullptr);

    // Loads toolbar 128: Send, a separator, About, Help, with the actions of those
    // commands. `action` gives the frame's action for a command id.
    bool LoadToolBar(unsigned id, const std::function<QAction*(int commandId)>& action);
};
