#include "QtMessagePresenter.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

#include "Strings.h"

namespace {

int ShowBox(std::string_view text, QMessageBox::StandardButtons buttons) {
    const auto caption = LoadString(IDS_APP_TITLE);
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(caption.data(), caption.size()),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), buttons,
                    DialogParent());
    // Host texts and typed names are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

QMainWindow* MainWindow() {
    for (auto* window : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<QMainWindow*>(window); main && main->isVisible())
            return main;
    return nullptr;
}

} // namespace

QWidget* DialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return MainWindow();
}

void QtMessagePresenter::ShowMessage(std::string_view text) {
    OnGuiThread([&] { ShowBox(text, QMessageBox::Ok); });
}

bool QtMessagePresenter::AskYesNo(std::string_view text) {
    return OnGuiThread(
        [&] { return ShowBox(text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes; });
}

void QtMessagePresenter::ShowStatus(std::string_view text) {
    OnGuiThread([&] {
        if (QMainWindow* main = MainWindow())
            main->statusBar()->showMessage(
                QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    });
}
