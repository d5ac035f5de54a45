#include "ExtEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>

#include "Latin1Text.h"
#include "Resource.h"
#include "SendRules.h"

CExtEdit* ToEdit = nullptr;
CExtEdit* SubjectEdit = nullptr;
CExtEdit* BodyEdit = nullptr;

namespace {

CExtEdit** Slot(int controlId) {
    switch (controlId) {
    case IDC_TO:
        return &ToEdit;
    case IDC_SUBJECT:
        return &SubjectEdit;
    case IDC_BODY:
        return &BodyEdit;
    default:
        return nullptr;
    }
}

// What can enter a field: Latin-1 by the rule tavo400-send follows too, line breaks as
// "\n" (none in a single-line field).
QString Admit(const QString& text, bool multiLine) {
    std::string notUtf8; // cannot happen: Qt's UTF-8 of any string is valid
    const auto field = tavo::text::Utf8ToFieldText(text.toStdString(), notUtf8);
    if (!field)
        return {};
    const auto latin1 = AdmitFieldText(field->latin1, multiLine);
    QString admitted = QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
    admitted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return admitted;
}

QList<QKeySequence>& FrameKeys() {
    static QList<QKeySequence> keys;
    return keys;
}

// As Send counts: the field's text is Latin-1, its line breaks single characters here.
std::size_t Counted(const QString& text) {
    return FieldLength(text.toLatin1().toStdString());
}

} // namespace

CExtEdit::CExtEdit(int controlId, bool multiLine, QWidget* parent)
    : QPlainTextEdit(parent), controlId_(controlId), multiLine_(multiLine) {
    setTabChangesFocus(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    if (!multiLine_) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    if (auto* slot = Slot(controlId_))
        *slot = this;
}

CExtEdit::~CExtEdit() {
    if (auto* slot = Slot(controlId_); slot && *slot == this)
        *slot = nullptr;
}

std::string CExtEdit::WindowText() const {
    QString text = toPlainText();
    text.replace(QChar('\n'), QStringLiteral("\r\n"));
    return text.toLatin1().toStdString();
}

void CExtEdit::SetWindowText(const std::string& latin1) {
    setPlainText(Admit(QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size())),
                       multiLine_));
}

std::size_t CExtEdit::Length() const {
    return Counted(toPlainText());
}

void CExtEdit::SetFrameAccelerators(QList<QKeySequence> keys) {
    FrameKeys() = std::move(keys);
}

bool CExtEdit::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (FrameKeys().contains(QKeySequence(key->keyCombination()))) {
            e->ignore(); // the frame's accelerator takes it
            return true;
        }
    }
    // The form would take Tab for its own focus chain before the field saw it.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
                         key->text() == QStringLiteral("\t");
        if (tab && MoveFocusOnTab(key->key() == Qt::Key_Backtab ||
                                  (key->modifiers() & Qt::ShiftModifier))) {
            e->accept();
            return true;
        }
        if (tab) {
            e->accept(); // never a tab character in the text
            return true;
        }
    }
    return QPlainTextEdit::event(e);
}

bool CExtEdit::MoveFocusOnTab(bool shift) {
    const int nextId = NextField(controlId_, shift);
    if (nextId == 0)
        return false;
    CExtEdit* next = *Slot(nextId);
    if (next)
        next->setFocus(shift ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return next != nullptr;
}

void CExtEdit::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Paste) ||
        (e->key() == Qt::Key_Insert && e->modifiers() == Qt::ShiftModifier)) {
        OnEditPaste();
        e->accept();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (!multiLine_) {
            e->ignore(); // a single-line field has no line breaks
            return;
        }
        Insert(QStringLiteral("\n"));
        e->accept();
        return;
    }
    // By code point: a character beyond the BMP arrives as two UTF-16 units, neither of
    // which prints on its own.
    const QString text = e->text();
    const auto codes = text.toUcs4();
    const bool printable =
        !codes.isEmpty() && !(e->modifiers() & Qt::ControlModifier) &&
        std::all_of(codes.begin(), codes.end(), [](char32_t c) { return QChar::isPrint(c); });
    if (printable) {
        Insert(text);
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void CExtEdit::inputMethodEvent(QInputMethodEvent* e) {
    if (e->preeditString().isEmpty() && !e->commitString().isEmpty()) {
        Insert(e->commitString());
        e->accept();
        return;
    }
    QPlainTextEdit::inputMethodEvent(e);
}

bool CExtEdit::canInsertFromMimeData(const QMimeData* source) const {
    return source->hasText();
}

void CExtEdit::insertFromMimeData(const QMimeData* source) {
    if (source->hasText())
        Insert(source->text(), true);
}

void CExtEdit::Insert(QString text, bool pasted) {
    if (isReadOnly())
        return;
    text = Admit(text, multiLine_);
    QTextCursor cursor = textCursor();
    const std::size_t kept =
        Length() - Counted(cursor.selectedText().replace(QChar::ParagraphSeparator, QChar('\n')));
    // nothing cut: what does not fit is not taken at all
    if (const auto refusal = PasteRefusal(controlId_, limit_, kept, Counted(text));
        !refusal.empty()) {
        QApplication::beep();
        // a typed key explains itself; a paste that vanished whole needs the words
        if (auto* frame = qobject_cast<QMainWindow*>(window()); frame && pasted)
            frame->statusBar()->showMessage(QString::fromStdString(refusal));
        return;
    }
    cursor.insertText(text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CExtEdit::focusInEvent(QFocusEvent* e) {
    QPlainTextEdit::focusInEvent(e);
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        cursor.clearSelection();
        setTextCursor(cursor);
    }
    ensureCursorVisible();
}
