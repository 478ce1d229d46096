#include "app/QtPrompts.h"

#include "common/AppDirs.h"

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
        QFileDialog::getOpenFileNames(parent_, QString(), lastFolder_, QtFilter(filter));
    if (!files.isEmpty())
        RememberFolder(files.first());
    return files;
}

QString QtPrompts::OpenFile(const QString& filter)
{
    const QString file = QFileDialog::getOpenFileName(parent_, QString(), lastFolder_, QtFilter(filter));
    RememberFolder(file);
    return file;
}

QString QtPrompts::SaveFile(const QString& filter, const QString& suggestedName)
{
    // A bare name goes into the folder last used; a path names its own.
    const QString start = suggestedName.isEmpty() ? lastFolder_ : QDir(lastFolder_).filePath(suggestedName);
    const QString file = QFileDialog::getSaveFileName(parent_, QString(), start, QtFilter(filter));
    RememberFolder(file);
    return file;
}

void QtPrompts::RememberFolder(const QString& file)
{
    if (!file.isEmpty())
        lastFolder_ = QFileInfo(file).absolutePath();
}

void QtPrompts::Error(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent_);
    box.exec();
}

void QtPrompts::ErrorWithDetail(const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent_);
    box.setInformativeText(detail);
    box.exec();
}

void QtPrompts::Information(const QString& text)
{
    QMessageBox box(QMessageBox::Information, title_, text, QMessageBox::Ok, parent_);
    box.exec();
}

void QtPrompts::Warning(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title_, text, QMessageBox::Ok, parent_);
    box.exec();
}

void QtPrompts::Message(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtPrompts::MessageOffering(const QString& caption, const QString& text, const QString& offer)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent_);
    QPushButton* offered = box.addButton(offer, QMessageBox::AcceptRole);
    box.exec();
    return box.clickedButton() == offered;
}

bool QtPrompts::Confirm(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
}

Prompts::SaveChoice QtPrompts::AskSaveChanges(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title_, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    parent_);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
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
