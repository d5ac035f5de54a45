#include "QtMessagePresenter.h"

#include <QApplication>
#include <QMessageBox>

#include "Strings.h"

void QtMessagePresenter::ShowMessage(std::string_view text) {
    const auto caption = LoadString(IDS_APP_TITLE);
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption.data(), caption.size()),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, parent);
    // Host texts and typed names are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
