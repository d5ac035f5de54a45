#pragma once

#include <QWidget>

class CTVOEditView;

// The lower pane's frame: holds the body view and gives it all its room.
class CBotPaneFrame : public QWidget {
    Q_OBJECT
  public:
    explicit CBotPaneFrame(QWidget* parent = nullptr);
    CTVOEditView* View() const { return view_; }

  private:
    CTVOEditView* view_ = nullptr;
};
