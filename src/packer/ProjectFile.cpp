#include "packer/ProjectFile.h"

#include "common/PathList.h"
#include "common/Paths.h"
#include "common/SaveTarget.h"
#include "package/PackageLayout.h"
#include "xml/XmlDocument.h"

#include <QFileInfo>

#include <algorithm>

QString WithProjectExtension(const QString& name)
{
    if (ExtractFileExt(name).toLower() == QStringLiteral(".zvp"))
        return name;
    return name + QStringLiteral(".zvp");
}

void SaveProject(const QString& path, const QList<TProjectAction>& actions)
{
    RefuseLinkAsSaveTarget(path);
    TXmlDocument document(QStringLiteral("1.0"));
    document.SetEncoding(QStringLiteral("UTF-8"));
    TXmlNode root = document.AddDocumentElement(QStringLiteral("ZuvoProject"));
    TXmlDocument::SetAttribute(root, QStringLiteral("Version"), QStringLiteral("1.0.0"));
    const QString base = NativeToStored(QFileInfo(path).absoluteFilePath());
    for (const TProjectAction& action : actions) {
        TXmlNode element = TXmlDocument::AddChild(root, QStringLiteral("Action"));
        TXmlDocument::SetText(TXmlDocument::AddChild(element, QStringLiteral("Name")), action.Name);
        TXmlNode frames = TXmlDocument::AddChild(element, QStringLiteral("ActionFragment"));
        if (!action.Frames.isEmpty()) {
            QStringList stored;
            stored.reserve(action.Frames.size());
            for (const QString& frame : action.Frames)
                stored.append(RelativePath(base, NativeToStored(frame)));
            TXmlDocument::SetText(frames, JoinPaths(stored));
        }
        WriteMotion(action.Motion, [&](const QString& name, const QString& text) {
            TXmlDocument::SetText(TXmlDocument::AddChild(element, name), text);
        });
    }
    document.Save(path);
}

QString ResolvedProjectPath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? path : target;
}

namespace {

bool IsBlank(QChar c) { return c.unicode() <= 32; }
bool IsControl(QChar c) { return c.unicode() < 32 || c.unicode() == 127; }
// What a stored path turns into something else: the separators of the list and of folders.
bool IsSeparator(QChar c) { return c == u';' || c == u'\\'; }

// The motion parts, looked up by name among an action's children from the third on: one it
// cannot read is left out and said, when nothing was said before.
TMotion ReadProjectMotion(const TXmlNodeList& parts, int entry, std::optional<QString>& failure)
{
    TMotion motion;
    const auto text = [&](const QString& name) -> std::optional<QString> {
        for (int p = 2; p < parts.count(); ++p) {
            const TXmlNode part = TXmlDocument::ChildByIndex(parts, p);
            if (part.IsElement() && part.Name() == name)
                return TXmlDocument::Text(part);
        }
        return std::nullopt;
    };
    if (const std::optional<QString> problem = ReadMotion(text, motion); problem && !failure)
        failure = QStringLiteral("entry %1: %2").arg(entry + 1).arg(*problem);
    return motion;
}

}  // namespace

bool IsStorablePath(const QString& nativePath)
{
    if (std::any_of(nativePath.cbegin(), nativePath.cend(), [](QChar c) { return IsControl(c) || IsSeparator(c); }))
        return false;
    // Any name of the path may begin the stored form, relative to the project's folder.
    for (const QString& part : nativePath.split(u'/', Qt::SkipEmptyParts)) {
        if (IsBlank(part.front()) || IsBlank(part.back()) || !DrivePart(part).isEmpty())
            return false;
    }
    return true;
}

QString StorableName(const QString& name)
{
    QString safe = name;
    for (QChar& c : safe) {
        if (IsControl(c) || IsSeparator(c) || c == u':' || c == u'/')
            c = u'_';
    }
    qsizetype begin = 0;
    qsizetype end = safe.size();
    while (begin < end && IsBlank(safe[begin]))
        ++begin;
    while (end > begin && IsBlank(safe[end - 1]))
        --end;
    return safe.sliced(begin, end - begin);
}

std::optional<QString> LoadProject(const QString& path, TActionModel& actions)
{
    // A file that is not there is a new project of that name, not a damaged one.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    // A pipe or device would never end reading.
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    std::vector<std::unique_ptr<TActionNode>> read;
    std::optional<QString> failure;
    int entry = -1;
    int frames = 0;
    try {
        const TXmlDocument document = TXmlDocument::Load(path, kProjectLimits);
        const QString folder = ExtractFilePath(NativeToStored(QFileInfo(ResolvedProjectPath(path)).absoluteFilePath()));
        const TXmlNodeList children = TXmlDocument::ChildNodes(document.DocumentElement());
        for (int i = 0; i < children.count(); ++i) {
            entry = i;
            if (i >= kMaxPackageActions)
                throw TError(QStringLiteral("the project holds more than %1 actions").arg(kMaxPackageActions));
            // The name and the frames are taken by position, their element names playing no
            // part; the motion parts after them by name.
            const TXmlNodeList parts = TXmlDocument::ChildNodes(TXmlDocument::ChildByIndex(children, i));
            auto node = std::make_unique<TActionNode>();
            node->Name = TXmlDocument::Text(TXmlDocument::ChildByIndex(parts, 0));
            // A name nobody can read costs the editor dearly: cut, and said when done.
            if (node->Name.size() > kMaxActionName) {
                node->Name.truncate(kMaxActionName);
                if (!failure)
                    failure = QStringLiteral("entry %1: the action's name is longer than %2 characters and was cut")
                                  .arg(i + 1).arg(kMaxActionName);
            }
            if (const TMotion motion = ReadProjectMotion(parts, i, failure); motion.IsSet())
                node->EnsureRecord().Motion = motion;
            read.push_back(std::move(node));
            const QString stored = TXmlDocument::Text(TXmlDocument::ChildByIndex(parts, 1));
            if (stored.isEmpty())
                continue;
            // No more frames are made than a package may hold.
            QStringList pieces = Split(stored, u';', kMaxPackageFrames - frames + 1);
            const bool tooMany = frames + pieces.size() > kMaxPackageFrames;
            if (tooMany)
                pieces.resize(kMaxPackageFrames - frames);
            frames += static_cast<int>(pieces.size());
            QStringList paths;
            for (const QString& piece : pieces) {
                const QString full = CombinePath(folder, piece);
                if (full.isEmpty() && !piece.isEmpty())
                    throw TError(QStringLiteral("The path of a frame is too long: ") + piece);
                paths.append(StoredToNative(full));
            }
            read.back()->EnsureRecord().FramePaths = JoinPaths(paths);
            if (tooMany)
                throw TError(QStringLiteral("the project holds more than %1 frames").arg(kMaxPackageFrames));
        }
    } catch (const TError& error) {
        failure = entry < 0 ? error.Text() : QStringLiteral("entry %1: %2").arg(entry + 1).arg(error.Text());
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("there is not enough memory to read it");
    }
    actions.Append(std::move(read));
    return failure;
}
