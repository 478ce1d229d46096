#include "app/QtPrompts.h"

#include "common/AppDirs.h"
#include "common/VisibleText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <functional>
#include <utility>

namespace {

// A box that only tells something waits while another box is open: a box opened from inside
// another's event loop (hand-offs, pets failing to load) would sit a level deeper in the
// stack each time, until it overflows.
struct TWaitingBoxes {
    int open = 0;
    QList<std::function<void()>> waiting;
    int untold = 0;  // beyond what waits
};

TWaitingBoxes& Boxes()
{
    static TWaitingBoxes boxes;
    return boxes;
}

constexpr int kMaxWaitingBoxes = 20;

// Shows `dialog` until it is answered. Over a window it blocks that window only: the pets
// and the program's other windows go on taking the mouse.
int Run(QDialog& dialog)
{
    if (dialog.parentWidget() != nullptr)
        dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

// The files a file dialog over `parent` was answered with; none when cancelled.
QStringList AskForFiles(QWidget* parent, QFileDialog::FileMode mode, QFileDialog::AcceptMode accept,
                        const QString& start, const QString& filter)
{
    QFileDialog dialog(parent, QString(), start, filter);
    dialog.setFileMode(mode);
    dialog.setAcceptMode(accept);
    return Run(dialog) == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

// Runs `show` now with the box count raised, or, while a box is open, once it has closed.
void ShowInTurn(std::function<void()> show)
{
    TWaitingBoxes& boxes = Boxes();
    if (boxes.open > 0) {
        if (boxes.waiting.size() < kMaxWaitingBoxes)
            boxes.waiting.append(std::move(show));
        else
            ++boxes.untold;
        return;
    }
    ++boxes.open;
    show();
    while (!boxes.waiting.isEmpty() || boxes.untold > 0) {
        if (boxes.waiting.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, kAppTitle,
                            QStringLiteral("%1 more messages came meanwhile and are not shown.").arg(std::exchange(boxes.untold, 0)));
            Run(box);
            continue;
        }
        boxes.waiting.takeFirst()();
    }
    --boxes.open;
}

// A box the person answers: shown at once, and boxes that only tell wait for it.
template <typename Show>
auto AskNow(Show show)
{
    struct Open {
        Open() { ++Boxes().open; }
        ~Open() { --Boxes().open; }
    } open;
    return show();
}

void Tell(QMessageBox::Icon icon, const QString& caption, const QString& text, const QString& detail,
          QPointer<QWidget> parent)
{
    ShowInTurn([=] {
        QMessageBox box(icon, caption, VisibleText(text), QMessageBox::Ok, parent);
        if (!detail.isEmpty())
            box.setInformativeText(VisibleText(detail));
        Run(box);
    });
}

}  // namespace

QString QtPrompts::QtFilter(const QString& storedFilter)
{
    const QStringList parts = storedFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
        // Qt reads the patterns from the last parentheses of the description, separated by
        // blanks, not by ";".
        if (parts[i].endsWith(u')')) {
            const qsizetype open = parts[i].lastIndexOf(u'(');
            filters.append(parts[i].left(open) + QString(parts[i].mid(open)).replace(u';', u' '));
        } else {
            filters.append(parts[i] + QStringLiteral(" (") + patterns + u')');
        }
    }
    return filters.join(QStringLiteral(";;"));
}

QStringList QtPrompts::OpenFiles(const QString& filter)
{
    const QStringList files =
        AskNow([&] { return AskForFiles(parent_, QFileDialog::ExistingFiles, QFileDialog::AcceptOpen, lastFolder_, QtFilter(filter)); });
    if (!files.isEmpty())
        RememberFolder(files.first());
    return files;
}

QString QtPrompts::OpenFile(const QString& filter)
{
    const QString file =
        AskNow([&] {
            return AskForFiles(parent_, QFileDialog::ExistingFile, QFileDialog::AcceptOpen, lastFolder_, QtFilter(filter)).value(0);
        });
    RememberFolder(file);
    return file;
}

QString QtPrompts::SaveFile(const QString& filter, const QString& suggestedName)
{
    // A bare name goes into the folder last used; a path names its own.
    const QString start = suggestedName.isEmpty() ? lastFolder_ : QDir(lastFolder_).filePath(suggestedName);
    const QString file =
        AskNow([&] { return AskForFiles(parent_, QFileDialog::AnyFile, QFileDialog::AcceptSave, start, QtFilter(filter)).value(0); });
    RememberFolder(file);
    return file;
}

void QtPrompts::RememberFolder(const QString& file)
{
    if (!file.isEmpty())
        lastFolder_ = QFileInfo(file).absolutePath();
}


void QtPrompts::Error(const QString& text) { Tell(QMessageBox::Critical, QStringLiteral("Error"), text, {}, parent_); }

void QtPrompts::ErrorWithDetail(const QString& text, const QString& detail)
{
    Tell(QMessageBox::Critical, QStringLiteral("Error"), text, detail, parent_);
}

void QtPrompts::Information(const QString& text) { Tell(QMessageBox::Information, title_, text, {}, parent_); }

void QtPrompts::Warning(const QString& text) { Tell(QMessageBox::Warning, title_, text, {}, parent_); }

void QtPrompts::Message(const QString& caption, const QString& text) { Tell(QMessageBox::NoIcon, caption, text, {}, parent_); }

bool QtPrompts::MessageOffering(const QString& caption, const QString& text, const QString& offer)
{
    return AskNow([&] {
        QMessageBox box(QMessageBox::NoIcon, caption, VisibleText(text), QMessageBox::Ok, parent_);
        QPushButton* offered = box.addButton(offer, QMessageBox::AcceptRole);
        Run(box);
        return box.clickedButton() == offered;
    });
}

bool QtPrompts::Confirm(const QString& caption, const QString& text)
{
    return AskNow([&] {
        QMessageBox box(QMessageBox::Question, caption, VisibleText(text), QMessageBox::Yes | QMessageBox::No, parent_);
        return Run(box) == QMessageBox::Yes;
    });
}

Prompts::SaveChoice QtPrompts::AskSaveChanges(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title_, VisibleText(text),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Save);
    switch (AskNow([&] { return Run(box); })) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;  // Escape and the window's close button too
    }
}

void QtPrompts::ShowInFolder(const QString& nativePath)
{
    const QUrl file = QUrl::fromLocalFile(QFileInfo(nativePath).absoluteFilePath());
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(nativePath).absolutePath());
    const auto openFolder = [folder] { QDesktopServices::openUrl(folder); };

    // The freedesktop file-manager interface opens the folder with the file selected; a
    // desktop without one still gets the folder opened.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* self) {
                         if (self->isError())
                             openFolder();
                         self->deleteLater();
                     });
}
