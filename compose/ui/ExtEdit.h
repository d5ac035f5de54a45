#pragma once

#include <QPlainTextEdit>
#include <string>

// The edit control of all three text fields (To:, Subject:, body). Its text, as the
// rest of the program reads and writes it, is Latin-1 with CR LF line breaks. Tab and
// Shift+Tab (and Ctrl+I) cycle To: -> Subject: -> body instead of inserting a tab.
class CExtEdit : public QPlainTextEdit {
    Q_OBJECT
  public:
    // Registers itself in ToEdit, SubjectEdit or BodyEdit by its control id.
    CExtEdit(int controlId, bool multiLine, QWidget* parent = nullptr);
    ~CExtEdit() override;

    int ControlId() const { return controlId_; }

    std::string WindowText() const;
    // Text set by the program is not bound by the limit.
    void SetWindowText(const std::string& latin1);

    // Bounds typing and pasting, all or nothing; a line break counts as two characters.
    void SetLimitText(std::size_t limit) { limit_ = limit; }
    std::size_t LimitText() const { return limit_; }
    std::size_t Length() const; // as the limit counts

    // The Paste command (Ctrl+V, Shift+Insert) reaches this and it does nothing.
    void OnEditPaste() {}

    // Keys the main frame's accelerator table claims: the fields leave them to it.
    static void SetFrameAccelerators(QList<QKeySequence> keys);

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void insertFromMimeData(const QMimeData* source) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void focusInEvent(QFocusEvent* e) override;

  private:
    bool MoveFocusOnTab(bool shift);
    // Inserts `text` at the cursor if all of it fits, characters outside Latin-1 made "?";
    // a paste that does not fit says why in the main window's status bar.
    void Insert(QString text, bool pasted = false);

    int controlId_;
    bool multiLine_;
    std::size_t limit_ = 30000; // the platform's default for an edit control
};

// The fields, registered as their windows are created; null until then.
extern CExtEdit* ToEdit;
extern CExtEdit* SubjectEdit;
extern CExtEdit* BodyEdit;
