#include <QtTest>
#include <QtWidgets>

#include "QtMessagePresenter.h"

// The one presenter every message box of the window goes through.
class MessageBoxTest : public QObject {
    Q_OBJECT

  private slots:
    // Host texts and typed names that look like markup are shown as they are.
    void textIsShownAsItIs() {
        const char* texts[] = {
            "No such name: X<BR>Y.",
            "The name \"<b>abc</b>\" is longer than 10 characters.",
            "M\xfcller &amp; <i>sons</i>",
        };
        for (const char* text : texts) {
            QString shown;
            Qt::TextFormat format = Qt::AutoText;
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                auto* label = box->findChild<QLabel*>("qt_msgbox_label");
                QVERIFY(label);
                shown = label->text();
                format = label->textFormat();
                box->accept();
            });
            QtMessagePresenter().ShowMessage(text);
            QCOMPARE(format, Qt::PlainText);
            QCOMPARE(shown, QString::fromLatin1(text));
        }
    }
};

QTEST_MAIN(MessageBoxTest)
#include "MessageBoxTest.moc"
