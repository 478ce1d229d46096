#include "packer/FrameFolder.h"

#include "common/Error.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// Set from a signal handler, so it must never take a lock.
std::atomic<int> gInterruption{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Folders of imports cut off by a crash or a kill: of our name, a folder itself and not a
// link, untouched for a day, and of no process that still runs (older names carry none).
void RemoveStaleStaging(const QString& parent)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.zuvora-import-(?:([0-9]{1,9})-)?[A-Za-z0-9]{6}$"));
    const std::time_t dayAgo = std::time(nullptr) - 24 * 60 * 60;
    QDirIterator entries(parent, {QStringLiteral(".zuvora-import-*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QRegularExpressionMatch match = pattern.match(entries.fileName());
        struct stat info {};
        if (!match.hasMatch() || ::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_mtime > dayAgo)
            continue;
        const QString pid = match.captured(1);
        if (!pid.isEmpty() && (::kill(pid.toInt(), 0) == 0 || errno == EPERM))
            continue;
        QDir(path).removeRecursively();  // never descends through a link
    }
}

// The name of an import's hidden folder in `parent`, once the leftovers of dead ones are gone.
QString StagingTemplate(const QString& parent)
{
    RemoveStaleStaging(parent);
    return QDir(parent).filePath(QStringLiteral(".zuvora-import-%1-XXXXXX").arg(::getpid()));
}

}  // namespace

void InterruptImports(int signal) { gInterruption.store(signal); }

int ImportInterruption() { return gInterruption.load(); }

void ThrowIfInterrupted(const QString& source)
{
    if (gInterruption.load() != 0)
        throw TError(source + QStringLiteral(": the import was interrupted"));
}

FrameFolder::FrameFolder(const QString& source, const QString& projectFile)
    : source_(source), parent_(QFileInfo(projectFile).absolutePath()), staging_(StagingTemplate(parent_))
{
    ThrowIfInterrupted(source_);
    if (!staging_.isValid())
        throw TError(QStringLiteral("%1: the frames cannot be written into %2: %3")
                         .arg(source_, parent_, staging_.errorString()));
    const QString folder = QDir(parent_).filePath(BaseName());
    if (!IsStorablePath(folder))
        throw TError(QStringLiteral("%1: the frames cannot go into %2: its path %3").arg(source_, folder, kUnstorablePath));
}

void FrameFolder::Expect(int count)
{
    digits_ = std::max(3, static_cast<int>(QString::number(std::max(count - 1, 0)).size()));
}

QString FrameFolder::Write(const QImage& image, const QRect& area, TPngKind kind, const TImportProgress& progress)
{
    ThrowIfInterrupted(source_);
    const QString name = QStringLiteral("%1.png").arg(names_.size(), digits_, 10, QLatin1Char('0'));
    QFile file(QDir(staging_.path()).filePath(name));
    const auto fail = [&](const QString& reason) {
        return TError(QStringLiteral("%1: %2 cannot be written: %3").arg(source_, file.fileName(), reason));
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw fail(file.errorString());
    try {
        EncodePng(image, area, kind, file, progress.Cancelled);
    } catch (const TError& error) {
        throw fail(error.Text());
    }
    if (!file.flush())
        throw fail(file.errorString());
    names_.append(name);
    return name;
}

void FrameFolder::Remove(const QString& name)
{
    QFile file(QDir(staging_.path()).filePath(name));
    if (!file.remove())
        throw TError(QStringLiteral("%1: %2 cannot be removed: %3").arg(source_, file.fileName(), file.errorString()));
}

QString FrameFolder::Commit()
{
    ThrowIfInterrupted(source_);
    const QString base = BaseName();
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString folder = QDir(parent_).filePath(attempt == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(attempt));
        // Creating the name first claims it: rename() then only ever replaces that
        // empty folder of ours, never anything someone else made.
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
            if (errno == EEXIST)
                continue;
            throw TError(QStringLiteral("%1: %2 cannot be created: %3").arg(source_, folder, QString::fromLocal8Bit(std::strerror(errno))));
        }
        // The folder made for the name has the mode the person's umask gives; the
        // temporary one, its owner's alone, takes it on.
        struct stat made {};
        const bool known = ::stat(QFile::encodeName(folder).constData(), &made) == 0;
        if (::rename(QFile::encodeName(staging_.path()).constData(), QFile::encodeName(folder).constData()) != 0) {
            const int error = errno;
            QDir().rmdir(folder);
            throw TError(QStringLiteral("%1: %2 cannot be created: %3").arg(source_, folder, QString::fromLocal8Bit(std::strerror(error))));
        }
        staging_.setAutoRemove(false);
        if (known)
            ::chmod(QFile::encodeName(folder).constData(), made.st_mode & 07777);
        return folder;
    }
    throw TError(QStringLiteral("%1: every folder name from %2 to %2-1000 is taken in %3").arg(source_, base, parent_));
}

QString FrameFolder::BaseName() const
{
    const QString base = StorableName(QFileInfo(source_).completeBaseName());
    // A name that is no folder of its own would put the frames elsewhere.
    return base.isEmpty() || base.startsWith(u'.') ? QStringLiteral("frames") : base;
}
