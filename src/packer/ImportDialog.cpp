#include "packer/ImportDialog.h"

#include "packer/PackerEditor.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <thread>

namespace {

// An import is shown only once it has taken this long, so a small one shows nothing.
constexpr int kImportDialogDelayMs = 300;

}  // namespace

TImportDialog::TImportDialog(const QString& what, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgImport"));
    setWindowTitle(kPackerTitle);
    setWindowModality(Qt::WindowModal);
    label_ = new QLabel(what + QStringLiteral("\u2026"));
    bar_ = new QProgressBar;
    bar_->setRange(0, 0);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel);
    connect(buttons_, &QDialogButtonBox::rejected, this, &TImportDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(buttons_);
    setMinimumWidth(360);
}

void TImportDialog::Show(int done, int total)
{
    bar_->setRange(0, std::max(total, 0));
    if (total > 0)
        bar_->setValue(std::clamp(done, 0, total));
}

void TImportDialog::reject()
{
    if (Cancel.exchange(true))
        return;
    label_->setText(QStringLiteral("Cancelling\u2026"));
    buttons_->setEnabled(false);
}

void TImportDialog::Run(QWidget* window, const QString& what, const std::function<void(const TImportProgress&)>& work)
{
    TImportDialog dialog(what, window);
    std::atomic<int> done{0};
    std::atomic<int> total{0};
    std::atomic<bool> finished{false};
    TImportProgress progress;
    progress.Step = [&](int stepsDone, int steps) {
        total = steps;
        done = stepsDone;
    };
    progress.Cancelled = [&dialog] { return dialog.Cancel.load(); };

    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
        // By the slot's name: a functor posted from here would be freed on this thread while
        // the window's thread may still hold it, a hand-over the thread sanitizer cannot see
        // through Qt.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer bar;
    QObject::connect(&bar, &QTimer::timeout, &dialog, [&] { dialog.Show(done, total); });
    bar.start(50);
    // Until the dialog is up, the person's clicks and keys wait rather than reach a window
    // in the middle of a command; drawing goes on.
    bool showing = false;
    QTimer::singleShot(kImportDialogDelayMs, &loop, [&] {
        showing = true;
        loop.exit();
    });
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished && showing) {
        dialog.show();
        loop.exec();
    }
    // Only the program closing ends the loops early: the import is stopped, as by Cancel.
    if (!finished)
        dialog.Cancel = true;
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}
