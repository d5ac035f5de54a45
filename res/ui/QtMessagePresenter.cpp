#include "QtMessagePresenter.h"

#include <QApplication>
#include <QMessageBox>

#include "Strings.h"

namespace {

int ShowBox(std::string_view text, QMessageBox::StandardButtons buttons) {
    const auto caption = LoadString(IDS_APP_TITLE);
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption.data(), caption.size()),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), buttons,
                    parent);
    // Host texts and typed names are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

} // namespace

void QtMessagePresenter::ShowMessage(std::string_view text) {
    ShowBox(text, QMessageBox::Ok);
}

bool QtMessagePresenter::AskYesNo(std::string_view text) {
    return ShowBox(text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
