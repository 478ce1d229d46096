#pragma once

#include <QDialog>

#include <atomic>
#include <functional>

class QDialogButtonBox;
class QLabel;
class QProgressBar;
struct TImportProgress;

// The progress of an import over the packer window. It stays until the import has stopped:
// Esc and the close button ask to cancel, as Cancel does.
class TImportDialog : public QDialog {
public:
    // Runs `work` on a thread of its own while `window` keeps drawing; after a moment this
    // dialog comes up over it, with a bar and Cancel. What `work` raises is raised here.
    static void Run(QWidget* window, const QString& what, const std::function<void(const TImportProgress&)>& work);

    TImportDialog(const QString& what, QWidget* parent);

    std::atomic<bool> Cancel{false};

    // Steps done of a total; none known yet shows a bar that only moves.
    void Show(int done, int total);
    void reject() override;

private:
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};
