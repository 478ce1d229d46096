#include "common/Paths.h"

#include <QStringList>

#include <climits>

namespace {

constexpr QChar kSep = u'\\';

bool IsSeparator(QChar c) { return c == u'\\' || c == u'/'; }

QString WithBackslashes(QString path)
{
    path.replace(u'/', kSep);
    return path;
}

// Index just past the last separator or drive colon: where the file name starts.
qsizetype FileNameStart(const QString& path)
{
    for (qsizetype i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1]))
            return i;
    }
    return DrivePart(path).size();
}

// The non-empty components of a path without its drive.
QStringList Components(const QString& pathWithoutDrive)
{
    return WithBackslashes(pathWithoutDrive).split(kSep, Qt::SkipEmptyParts);
}

// Drops "." components and lets each ".." remove the component before it; never climbs
// above the root or the drive.
QString Canonicalize(const QString& path)
{
    qsizetype prefixEnd = DrivePart(path).size();
    if (path.mid(prefixEnd, 2) == QStringLiteral("\\\\"))
        prefixEnd += 2;  // a network path's "\\" stays as it is
    else if (path.mid(prefixEnd, 1) == QStringLiteral("\\"))
        prefixEnd += 1;
    const QString prefix = path.left(prefixEnd);

    QStringList kept;
    for (const QString& part : Components(path.mid(prefixEnd))) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }
    QString result = prefix + kept.join(kSep);
    const bool trailing = path.size() > prefixEnd && path.endsWith(kSep);
    if (trailing && !kept.isEmpty())
        result += kSep;
    return result;
}

}  // namespace

int MaxPathLength() { return PATH_MAX; }

QString DrivePart(const QString& path)
{
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter() && path[0].unicode() < 128)
        return path.left(2);
    return {};
}

QString CombinePath(const QString& folder, const QString& stored)
{
    const QString dir = WithBackslashes(folder);
    const QString path = WithBackslashes(stored);

    QString joined;
    if (!DrivePart(path).isEmpty() || path.startsWith(QStringLiteral("\\\\")))
        joined = path;
    else if (path.startsWith(kSep))
        joined = DrivePart(dir) + path;
    else if (dir.isEmpty() || dir.endsWith(kSep))
        joined = dir + path;
    else
        joined = dir + kSep + path;

    QString result = Canonicalize(joined);
    if (result.size() >= MaxPathLength())
        return {};
    return result;
}

QString RelativePath(const QString& baseFile, const QString& file)
{
    const QString base = WithBackslashes(baseFile);
    const QString target = WithBackslashes(file);
    const QString baseDrive = DrivePart(base);
    if (baseDrive.compare(DrivePart(target), Qt::CaseInsensitive) != 0)
        return file;

    // Drive-letter paths come from a file system that ignores letter case. Paths without a
    // drive are this system's own, where "Pets" and "pets" are two folders: comparing them
    // without case would point the stored path at the wrong file.
    const Qt::CaseSensitivity cs = baseDrive.isEmpty() ? Qt::CaseSensitive : Qt::CaseInsensitive;

    const QStringList from = Components(ExtractFilePath(base).mid(baseDrive.size()));
    const QStringList to = Components(ExtractFilePath(target).mid(baseDrive.size()));
    qsizetype common = 0;
    while (common < from.size() && common < to.size()
           && from[common].compare(to[common], cs) == 0)
        ++common;

    QString result;
    for (qsizetype i = common; i < from.size(); ++i)
        result += QStringLiteral("..\\");
    for (qsizetype i = common; i < to.size(); ++i)
        result += to[i] + kSep;
    return result + ExtractFileName(target);
}

QString ExtractFileName(const QString& path) { return path.mid(FileNameStart(path)); }

QString ExtractFilePath(const QString& path) { return path.left(FileNameStart(path)); }

QString ExtractFileExt(const QString& path)
{
    const QString name = ExtractFileName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

QString StoredToNative(const QString& stored)
{
    QString path = WithBackslashes(stored).mid(DrivePart(stored).size());
    path.replace(kSep, u'/');
    return path;
}

QString NativeToStored(const QString& native) { return WithBackslashes(native); }
