#include "archive/OutputPaths.h"

#include "archive/DosTime.h"
#include "archive/ZipFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace zipformat;

namespace zipoutput {

// What is at `path`, without following a link; `info` receives its status when given.
PathKind KindOf(const QString& path, struct stat* status)
{
    struct stat own {};
    struct stat& info = status != nullptr ? *status : own;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    if (S_ISDIR(info.st_mode))
        return PathKind::Folder;
    if (S_ISREG(info.st_mode))
        return PathKind::File;
    return PathKind::Other;
}

QString JoinNative(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// The destination folder without trailing separators; the current folder when empty.
QString DestinationRoot(QString dest)
{
    while (dest.size() > 1 && (dest.endsWith(u'/') || dest.endsWith(u'\\')))
        dest.chop(1);
    return dest.isEmpty() ? QStringLiteral(".") : dest;
}

// The folders to create below the destination for a stored folder part, or nothing when
// the stored path could lead anywhere else. A leading "\" or drive means "from the
// destination", never from the file system's root.
std::optional<QStringList> FolderComponents(const TZipEntry& entry)
{
    QString folder = entry.FolderPart;
    if (folder.size() >= 2 && folder[1] == u':' && folder[0].isLetter() && folder[0].unicode() < 128)
        folder.remove(0, 2);
    QStringList parts;
    for (const QString& part : folder.split(u'\\', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part == u".")
            continue;
        parts.append(part);
    }
    return parts;
}

// A name that could not be written inside the destination as given: it climbs with "..",
// names the folder itself, or holds a NUL, which the file system would cut the path at.
bool IsUnsafeName(const TZipEntry& entry)
{
    if (entry.FolderPart.contains(QChar(0)) || entry.FileName.contains(QChar(0)))
        return true;
    if (entry.FileName == u"." || entry.FileName == u"..")
        return true;
    return entry.FolderPart.split(u'\\').contains(QStringLiteral(".."));
}

// Entries of a Unix host that are neither files nor folders: symbolic links, devices,
// pipes and sockets are never made from an archive.
bool IsSpecialUnixFile(const TZipEntry& entry)
{
    if ((entry.VersionMadeBy >> 8) != kHostUnix)
        return false;
    const std::uint32_t type = (entry.ExternalAttributes >> 16) & S_IFMT;
    return type != 0 && type != S_IFREG && type != S_IFDIR;
}

// The MS-DOS attributes an entry carries; a Unix host's write bit counts too.
std::uint32_t DosAttributesOfEntry(const TZipEntry& entry)
{
    std::uint32_t attributes = entry.ExternalAttributes & 0xFF;
    const std::uint32_t mode = entry.ExternalAttributes >> 16;
    if ((entry.VersionMadeBy >> 8) == kHostUnix && mode != 0 && !(mode & S_IWUSR))
        attributes |= kDosReadOnly;
    return attributes;
}

// Creates the output folder below `root` one level at a time, so that no existing symbolic
// link inside the destination is ever followed. Empty when a level cannot be made.
std::optional<QString> MakeOutputFolder(const QString& root, const QStringList& components)
{
    QString path = root;
    for (const QString& part : components) {
        path = JoinNative(path, part);
        switch (KindOf(path)) {
        case PathKind::Folder:
            break;
        case PathKind::Missing:
            if (!QDir().mkdir(path) && KindOf(path) != PathKind::Folder)
                return std::nullopt;
            break;
        case PathKind::File:
        case PathKind::Other:
            return std::nullopt;
        }
    }
    return path;
}


OutputFile::OutputFile(const QString& folder, const QString& path, bool replacing) : target_(QFile::encodeName(path))
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    if (!replacing) {
        fd_ = ::open(target_.constData(), kFlags, 0600);
        if (fd_ >= 0) {
            name_ = target_;
            return;
        }
        if (errno != EEXIST)
            return;  // and if another writer made it meanwhile, it is replaced like any other
    }
    static std::atomic<unsigned> counter{0};
    const QByteArray prefix = QFile::encodeName(folder) + "/.zvk-" + QByteArray::number(::getpid()) + '-';
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        name_ = prefix + QByteArray::number(++counter);
        fd_ = ::open(name_.constData(), kFlags, 0600);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (opened_ && !committed_)
        ::unlink(name_.constData());
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<QString> OutputFile::Commit(mode_t mode, std::int64_t modified, const std::function<bool()>& stillWanted)
{
    const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(modified), 0}};
    if (::fchmod(fd_, mode) != 0 || ::futimens(fd_, times) != 0 || ::close(fd_) != 0) {
        fd_ = -1;
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    fd_ = -1;
    if (name_ != target_) {
        if (!stillWanted())
            return QString();
        // rename() replaces an existing file in one step.
        if (std::rename(name_.constData(), target_.constData()) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
    }
    committed_ = true;
    return std::nullopt;
}

}  // namespace zipoutput
