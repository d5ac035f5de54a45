#include "OperationProgress.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include "QtMessagePresenter.h"

namespace {

// Often enough that the dialog appears when it is due and hides at once for a prompt.
constexpr int kLookEveryMs = 40;

} // namespace

bool CQtOperationRunner::Busy() {
    return RunningOperation::Busy();
}

void CQtOperationRunner::CancelRunning() {
    RunningOperation::Cancel();
}

Outcome CQtOperationRunner::Run(const std::string& progress, const std::function<Outcome()>& work) {
    if (auto refused = RunningOperation::RefusalIfBusy())
        return *refused;
    QEventLoop loop;
    QPointer<QEventLoop> wake(&loop);
    HostOperation operation(progress, work, [wake] {
        QMetaObject::invokeMethod(
            qApp,
            [wake] {
                if (wake)
                    wake->quit();
            },
            Qt::QueuedConnection);
    });
    RunningOperation::Hold(&operation);

    QPointer<QProgressDialog> dialog;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const bool due = operation.ProgressDue();
        if (due && !dialog) {
            const QString label =
                QString::fromLatin1(progress.data(), static_cast<qsizetype>(progress.size())) +
                QChar(0x2026);
            dialog = new QProgressDialog(label, QStringLiteral("Cancel"), 0, 0, DialogParent());
            dialog->setWindowTitle(QApplication::applicationName());
            dialog->setWindowModality(Qt::ApplicationModal);
            dialog->setAutoReset(false);
            dialog->setAutoClose(false);
            dialog->setMinimumDuration(0);
            // The button, the window's close box and Esc all cancel.
            const auto cancel = [&operation] { operation.Cancel(); };
            QObject::connect(dialog, &QProgressDialog::canceled, cancel);
            QObject::connect(dialog, &QDialog::rejected, cancel);
            dialog->show();
        } else if (dialog) {
            dialog->setVisible(due && !operation.CancelRequested());
        }
    });
    look.start(kLookEveryMs);
    if (!operation.Finished())
        loop.exec();
    look.stop();
    delete dialog.data();
    RunningOperation::Hold(nullptr);
    return operation.Result();
}
