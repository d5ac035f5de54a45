#pragma once

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>
#include <utility>

#include "MessagePresenter.h"

// Shows each message as the platform's OK box: exclamation icon, the application title
// as caption, over the window it belongs to. A line for the status bar goes to the main
// window's. Callable from any thread: a host operation's thread waits for the answer.
class QtMessagePresenter final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override;
    // The same box with Yes and No.
    bool AskYesNo(std::string_view text) override;
    void ShowStatus(std::string_view text) override;
};

// What a box or dialog opens over: the active modal dialog, else the active window, else
// the main window (never the middle of the screen, even when a dialog that just closed
// left no window active).
QWidget* DialogParent();

// Runs `f` on the window's thread and returns its result; host operations run on threads
// of their own, and only that thread may show a dialog.
template <class F> auto OnGuiThread(F&& f) {
    if (QThread::currentThread() == qApp->thread())
        return f();
    using Result = decltype(f());
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(qApp, std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}
