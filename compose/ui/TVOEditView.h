#pragma once

#include <QWidget>

class CExtEdit;

// The lower pane: the message body, a field that always covers the whole view. The
// view never scrolls; the field scrolls its own text.
class CTVOEditView : public QWidget {
    Q_OBJECT
  public:
    explicit CTVOEditView(QWidget* parent = nullptr);
    void OnInitialUpdate(); // limits the body to 967 characters
    CExtEdit* Body() const { return m_editBody; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    CExtEdit* m_editBody = nullptr;
};
