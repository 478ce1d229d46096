#include "packer/PackageBuild.h"

#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/FileCalls.h"
#include "common/Paths.h"
#include "common/Prompts.h"
#include "common/SaveTarget.h"
#include "package/Manifest.h"
#include "package/PackageLayout.h"
#include "package/PackageWriter.h"
#include "package/SpriteSheet.h"
#include "packer/SheetComposer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const QString kPackerFolder = QStringLiteral("Zuvo Packer");

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The file of the project that a package at `packagePath` would replace, if any: the
// project file itself, a frame or an audio file.
QString UsedFile(const QList<TProjectAction>& project, const QString& projectFile, const QString& packagePath)
{
    const QFileInfo package(packagePath);
    const QString name = package.fileName();
    // Links and other spellings of one file are looked through only for files of the same
    // name, so that a project of thousands of frames costs no more than string compares.
    const auto same = [&](const QString& path) {
        const QFileInfo file(path);
        if (file.fileName() != name && !file.isSymLink())
            return false;
        if (QDir::cleanPath(file.absoluteFilePath()) == QDir::cleanPath(package.absoluteFilePath()))
            return true;
        return package.exists() && file.exists() && file.canonicalFilePath() == package.canonicalFilePath();
    };
    if (!projectFile.isEmpty() && same(projectFile))
        return projectFile;
    for (const TProjectAction& action : project) {
        for (const QStringList* list : {&action.Frames, &action.Audio}) {
            for (const QString& path : *list) {
                if (same(path))
                    return path;
            }
        }
    }
    return {};
}

}  // namespace

QString WithPackageExtension(const QString& name)
{
    if (ExtractFileExt(name).toLower() == QStringLiteral(".zvk"))
        return name;
    return name + QStringLiteral(".zvk");
}

QString PackageWorkFolder(const QString& packagePath)
{
    const QString extension = ExtractFileExt(packagePath);
    QString base = ExtractFileName(packagePath);
    if (!extension.isEmpty())
        base.remove(extension, Qt::CaseSensitive);
    // The base name must stay one folder of its own: anything else would clear its parent.
    if (base.isEmpty() || base == u"." || base == u"..")
        base = QStringLiteral("Untitled");
    return QDir(AppDataFolder()).filePath(kPackerFolder + u'/' + base);
}

void ClearFolder(const QString& folder)
{
    // The iterator does not descend through links; a link of any kind goes like a file.
    QDirIterator entries(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        if (entry.isDir() && !entry.isSymLink())
            continue;
        if (QString why; !FileCalls().Remove(path, why))
            throw TError(QStringLiteral("%1 cannot be deleted from the work folder: %2").arg(path, why));
    }
}

TPackageBuilder::TPackageBuilder(Prompts& prompts, TBuildHooks hooks) : prompts_(prompts), hooks_(std::move(hooks)) {}

void TPackageBuilder::Fail(const QString& text)
{
    if (hooks_.Memo)
        hooks_.Memo(text);
    ShowError(text);
}

void TPackageBuilder::ShowError(const QString& text)
{
    if (hooks_.Done)
        hooks_.Done(false);
    prompts_.Error(text);
}

bool TPackageBuilder::Build(const QList<TProjectAction>& project, const QString& chosenName, const QString& projectFile)
{
    try {
        return BuildUnguarded(project, chosenName, projectFile);
    } catch (const std::bad_alloc&) {
        Fail(QStringLiteral("Error : there is not enough memory to build %1").arg(WithPackageExtension(chosenName)));
    }
    return false;
}

bool TPackageBuilder::BuildUnguarded(const QList<TProjectAction>& project, const QString& chosenName,
                                     const QString& projectFile)
{
    if (chosenName.endsWith(u'/')) {
        Fail(QStringLiteral("Error : %1 names a folder, not a package file").arg(chosenName));
        return false;
    }
    const QString packagePath = WithPackageExtension(QFileInfo(chosenName).absoluteFilePath());
    // Said before anything is composed; the archive writer refuses it again.
    try {
        RefuseLinkAsSaveTarget(packagePath);
    } catch (const TError& error) {
        Fail(QStringLiteral("Error : ") + error.Text());
        return false;
    }
    if (const QString used = UsedFile(project, projectFile, packagePath); !used.isEmpty()) {
        Fail(QStringLiteral("Error : the package %1 would be written over %2, which the project uses").arg(packagePath, used));
        return false;
    }
    const QString work = PackageWorkFolder(packagePath);
    const TWorkFolderLock lock = LockWorkFolder(work);
    if (!lock.Held())
        return false;
    try {
        ClearFolder(work);
    } catch (const TError& error) {
        Fail(QStringLiteral("Error : ") + error.Text());
        return false;
    }
    if (!ComposePackage(project, QDir(work).filePath(QFileInfo(packagePath).fileName())))
        return false;
    // The old package stays until the new one is complete: the writer renames it into place.
    if (!ZipFolder(work, packagePath))
        return false;
    const QString success = QStringLiteral("Success : ") + packagePath + QStringLiteral(" has been built!");
    if (hooks_.Memo)
        hooks_.Memo(success);
    if (hooks_.Done)
        hooks_.Done(true);
    if (!hooks_.Play)
        prompts_.Message(kPackerTitle, success);
    else if (prompts_.MessageOffering(kPackerTitle, success, QStringLiteral("Play")))
        hooks_.Play(packagePath);
    return true;
}

TPackageBuilder::TWorkFolderLock TPackageBuilder::LockWorkFolder(const QString& work)
{
    // A build empties its work folder: a link in place of it, or of the folder of work
    // folders, would empty whatever it leads to.
    const QString packer = QFileInfo(work).absolutePath();
    for (const QString& folder : {packer, work}) {
        if (QFileInfo(folder).isSymLink()) {
            Fail(QStringLiteral("Error : %1 is a link, not a work folder; remove it or build under another name").arg(folder));
            return TWorkFolderLock(-1);
        }
    }
    if (!QDir().mkpath(work)) {
        const int error = errno;
        Fail(QStringLiteral("Error : the work folder %1 cannot be created: %2").arg(work, SystemReason(error)));
        return TWorkFolderLock(-1);
    }
    // One build at a time per work folder, across processes too. The lock is the folder's
    // own and goes with the process that holds it.
    TWorkFolderLock lock(::open(QFile::encodeName(work).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!lock.Held() || ::flock(lock.Descriptor(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        Fail(error == EWOULDBLOCK ? QStringLiteral("Error : another build is using the work folder %1").arg(work)
                                  : QStringLiteral("Error : the work folder %1 cannot be used: %2").arg(work, SystemReason(error)));
        return TWorkFolderLock(-1);
    }
    return lock;
}

TPackageBuilder::TWorkFolderLock::~TWorkFolderLock()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

bool TPackageBuilder::RequireFile(const QString& path, const QString& message)
{
    if (QFileInfo(path).isFile())
        return true;
    ReportMissing(message);
    return false;
}

void TPackageBuilder::ReportMissing(const QString& message)
{
    if (hooks_.Memo)
        hooks_.Memo(QStringLiteral("Error : ") + message);
    ShowError(message);
}

bool TPackageBuilder::ZipFolder(const QString& folder, const QString& packagePath)
{
    if (hooks_.Zipping)
        hooks_.Zipping();
    try {
        TPackageWriter writer;
        writer.ProcessMessages = hooks_.ProcessMessages;
        writer.Write(folder, packagePath);
    } catch (const TError& error) {
        Fail(QStringLiteral("Error : %1 could not be written: %2").arg(packagePath, error.Text()));
        return false;
    }
    return true;
}

bool TPackageBuilder::WithinPackageLimits(const QList<TProjectAction>& project)
{
    qsizetype frameCount = 0;
    for (const TProjectAction& action : project)
        frameCount += action.Frames.size();
    if (project.size() <= kMaxPackageActions && frameCount <= kMaxPackageFrames)
        return true;
    Fail(QStringLiteral("Error : the project holds %1 actions and %2 frames; a package holds at most %3 actions and "
                        "%4 frames, as many as the player reads")
             .arg(project.size()).arg(frameCount).arg(kMaxPackageActions).arg(kMaxPackageFrames));
    return false;
}

bool TPackageBuilder::AllocateSheet(QSize size, QImage& sheet)
{
    if (size.isEmpty())
        return true;  // no frames: a sheet without an image
    sheet = QImage(size, QImage::Format_RGB888);
    if (sheet.isNull()) {
        Fail(QStringLiteral("Error : not enough memory for a sprite sheet of %1 by %2 pixels").arg(size.width()).arg(size.height()));
        return false;
    }
    sheet.fill(Qt::white);
    return true;
}

bool TPackageBuilder::ReportFrame(const TSheetComposer::Frame& frame, const QString& actionName, const QString& path)
{
    using Frame = TSheetComposer::Frame;
    const QString prefix = actionName + QStringLiteral(" - ") + path;
    if (frame.problem == Frame::Problem::Missing) {
        ReportMissing(prefix + QStringLiteral(" does not exist!"));
        return false;
    }
    if (hooks_.Memo)
        hooks_.Memo(path);
    switch (frame.problem) {
    case Frame::Problem::Empty:
        prompts_.Message(kPackerTitle, QStringLiteral("0"));
        Fail(QStringLiteral("Error : ") + prefix + QStringLiteral(" File Size is Zero!"));
        return false;
    case Frame::Problem::Unsupported:
        Fail(QStringLiteral("Error : ") + prefix + QStringLiteral("  Unsupported File Format ") + frame.format);
        return false;
    case Frame::Problem::TooLarge:
        Fail(QStringLiteral("Error : ") + prefix + QStringLiteral(": ") + frame.error);
        return false;
    case Frame::Problem::Missing:  // reported above
    case Frame::Problem::Unreadable:
    case Frame::Problem::None:
        break;
    }
    if (!frame.error.isEmpty()) {
        ShowError(frame.error);
        return false;
    }
    return true;
}

bool TPackageBuilder::CopyAudio(const TProjectAction& action, const QDir& work, int& counter, TAction& built)
{
    for (const QString& path : action.Audio) {
        if (!RequireFile(path, action.Name + QStringLiteral(" - ") + path + QStringLiteral(" does not exist!")))
            return false;
        const QString copy = QString::number(counter) + ExtractFileExt(path);
        const QString destination = work.filePath(copy);
        QFile::remove(destination);
        QFile source(path);
        if (!source.copy(destination)) {
            Fail(QStringLiteral("Error : %1 - %2 could not be copied to %3: %4")
                     .arg(action.Name, path, destination, source.errorString()));
            return false;
        }
        built.AudioFiles.append(copy);
        ++counter;
    }
    return true;
}

bool TPackageBuilder::ComposePackage(const QList<TProjectAction>& project, const QString& target)
{
    if (!WithinPackageLimits(project))
        return false;
    TSheetComposer composer(project);
    QImage sheet;
    if (!AllocateSheet(composer.SheetSize(), sheet))
        return false;
    composer.Decode(sheet.isNull() ? nullptr : &sheet, hooks_.FramesComposed);

    // Everything the person sees comes out in project order, as if each frame had been
    // read when its turn came.
    const QDir work = QFileInfo(target).absoluteDir();
    TZvk package;
    std::size_t frameCounter = 0;
    int audioCounter = 0;
    for (const TProjectAction& action : project) {
        TAction& built = package.Actions.emplace_back();
        built.Index = static_cast<std::int32_t>(package.Actions.size() - 1);
        built.Name = action.Name;
        built.Motion = action.Motion;
        for (const QString& path : action.Frames) {
            const TSheetComposer::Frame& frame = composer.Frames()[frameCounter];
            if (!ReportFrame(frame, action.Name, path))
                return false;
            built.Frames.push_back({static_cast<std::int32_t>(frameCounter), frame.top, 0, frame.height, frame.width});
            ++frameCounter;
        }
        if (!CopyAudio(action, work, audioCounter, built))
            return false;
    }
    try {
        WriteManifest(package, work.filePath(kManifestMember));
        SaveSpriteSheet(sheet, work.filePath(kSheetMember));
    } catch (const TError& error) {
        ShowError(error.Text());
        return false;
    }
    return true;
}
