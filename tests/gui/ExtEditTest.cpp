#include <QtTest>
#include <QtWidgets>

#include "ExtEdit.h"
#include "Resource.h"

// The three fields side by side in a main window, as the panes hold them.
class ExtEditTest : public QObject {
    Q_OBJECT

    QMainWindow* window = nullptr;
    CExtEdit* to = nullptr;
    CExtEdit* subject = nullptr;
    CExtEdit* body = nullptr;

    static void Paste(CExtEdit* edit, const QString& text) {
        // the context menu's Paste: the path the clipboard's text takes into the field
        QApplication::clipboard()->setText(text);
        edit->paste();
    }

    // Typing of characters the test keyboard does not have: one key event a character,
    // as a keyboard sends an emoji with its two UTF-16 units.
    static void Type(CExtEdit* edit, const QString& text) {
        for (char32_t c : text.toUcs4()) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                            QString::fromUcs4(&c, 1));
            QApplication::sendEvent(edit, &press);
        }
    }

  private slots:
    void init() {
        window = new QMainWindow;
        window->setCentralWidget(new QWidget);
        to = new CExtEdit(IDC_TO, true, window->centralWidget());
        subject = new CExtEdit(IDC_SUBJECT, false, window->centralWidget());
        body = new CExtEdit(IDC_BODY, true, window->centralWidget());
        subject->move(0, 100);
        body->move(0, 200);
        window->resize(400, 400);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void cleanup() {
        delete window;
        QVERIFY(ToEdit == nullptr && SubjectEdit == nullptr && BodyEdit == nullptr);
    }

    void windowTextUsesCrLfAndLatin1() {
        body->setFocus();
        QTest::keyClicks(body, "line one");
        QTest::keyClick(body, Qt::Key_Return);
        QTest::keyClicks(body, "line two");
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("line one\r\nline two"));
        body->SetWindowText("caf\xe9\r\nnext");
        QCOMPARE(body->toPlainText(), QString::fromUtf8("café\nnext"));
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("caf\xe9\r\nnext"));
    }

    void outsideLatin1BecomesQuestionMark() {
        to->setFocus();
        Type(to, QString::fromUtf8("a€b"));
        Paste(to, QString::fromUtf8("Łódź"));
        QCOMPARE(QByteArray::fromStdString(to->WindowText()), QByteArray("a?b?\xf3"
                                                                         "d?"));
        // beyond the BMP, one character and one "?", typed or pasted, within the limit
        const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
        subject->SetLimitText(3);
        subject->setFocus();
        Type(subject, emoji + emoji + emoji + emoji);
        QCOMPARE(QByteArray::fromStdString(subject->WindowText()), QByteArray("???"));
        // and the Unicode line breaks are line breaks, never byte 0x85
        body->setFocus();
        Paste(body, "x" + emoji + QString::fromUtf8("\xc2\x85y\xe2\x80\xa8z\xe2\x80\xa9"));
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("x?\r\ny\r\nz\r\n"));
    }

    void limitsCountLineBreaksAsTwo() {
        body->SetLimitText(5);
        body->setFocus();
        QTest::keyClicks(body, "abc");
        QTest::keyClick(body, Qt::Key_Return); // 5 with the line break
        QCOMPARE(body->Length(), std::size_t{5});
        QTest::keyClicks(body, "d");
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("abc\r\n"));
        // a line break that would need two when one is left is refused too
        body->SetWindowText("abcd");
        body->moveCursor(QTextCursor::End);
        QTest::keyClick(body, Qt::Key_Return);
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("abcd"));
        // replacing a selection frees its room
        body->selectAll();
        QTest::keyClicks(body, "xyz");
        QCOMPARE(QByteArray::fromStdString(body->WindowText()), QByteArray("xyz"));
    }

    void whatDoesNotFitIsNotTaken() {
        subject->SetLimitText(30);
        subject->setFocus();
        Paste(subject, QString(31, 'y'));
        QCOMPARE(subject->Length(), std::size_t{0}); // refused whole, never cut, and said
        QCOMPARE(window->statusBar()->currentMessage(),
                 QString("Not pasted: Subject holds at most 30 characters."));
        QTest::keyClicks(subject, QString(35, 'x'));
        QCOMPARE(subject->Length(), std::size_t{30});
        to->SetLimitText(6);
        Paste(to, "ab\ncd");
        QCOMPARE(QByteArray::fromStdString(to->WindowText()), QByteArray("ab\r\ncd"));
    }

    void programTextIsNotBound() {
        to->SetLimitText(10);
        to->SetWindowText(std::string(600, 'n'));
        QCOMPARE(to->Length(), std::size_t{600});
        to->setFocus();
        to->moveCursor(QTextCursor::End);
        QTest::keyClicks(to, "z"); // over the limit: typing refused, deleting allowed
        QCOMPARE(to->Length(), std::size_t{600});
        QTest::keyClick(to, Qt::Key_Backspace);
        QCOMPARE(to->Length(), std::size_t{599});
    }

    void singleLineJoinsPastedLines() {
        subject->setFocus();
        QTest::keyClicks(subject, "Hi");
        QTest::keyClick(subject, Qt::Key_Return);
        Paste(subject, " there\r\n\nmore");
        QCOMPARE(QByteArray::fromStdString(subject->WindowText()), QByteArray("Hi there more"));
    }

    void tabCyclesTheThreeFields() {
        struct Step {
            CExtEdit* from;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            QString text;
            CExtEdit* to;
        } steps[] = {
            {to, Qt::Key_Tab, Qt::NoModifier, "\t", subject},
            {subject, Qt::Key_Tab, Qt::NoModifier, "\t", body},
            {body, Qt::Key_Tab, Qt::NoModifier, "\t", to},
            {to, Qt::Key_Backtab, Qt::ShiftModifier, "", body},
            {body, Qt::Key_Backtab, Qt::ShiftModifier, "", subject},
            {subject, Qt::Key_Backtab, Qt::ShiftModifier, "", to},
            {to, Qt::Key_I, Qt::ControlModifier, "\t", subject}, // Ctrl+I is character 9
        };
        for (const auto& step : steps) {
            step.from->setFocus();
            QTRY_VERIFY(step.from->hasFocus());
            QTest::sendKeyEvent(QTest::Click, step.from, step.key, step.text, step.modifiers);
            QTRY_VERIFY(step.to->hasFocus());
        }
        for (auto* edit : {to, subject, body})
            QVERIFY(!edit->toPlainText().contains('\t'));
    }

    void pasteCommandDoesNothing() {
        QApplication::clipboard()->setText("pasted");
        body->setFocus();
        QTest::keyClick(body, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(body, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(body->toPlainText(), QString());
    }

    void focusLeavesNoSelection() {
        to->SetWindowText("jsmith\r\nmjones");
        to->selectAll();
        body->setFocus();
        QTRY_VERIFY(body->hasFocus());
        to->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(to->hasFocus());
        QVERIFY(!to->textCursor().hasSelection());
    }
};

QTEST_MAIN(ExtEditTest)
#include "ExtEditTest.moc"
