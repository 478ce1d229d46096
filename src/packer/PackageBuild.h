#pragma once

#include "package/PackageLayout.h"
#include "package/Zvk.h"
#include "packer/ActionModel.h"
#include "packer/SheetComposer.h"

#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <utility>

class Prompts;

// Building a package from a project: every frame stacked into the sprite sheet, the
// manifest, the audio copies, all staged in a work folder under the application-data
// folder and packed into the ".zvk" file.

// The package path for a name chosen in the save dialog: unchanged when its extension is
// ".zvk" in any letter case, else with ".zvk" appended.
QString WithPackageExtension(const QString& name);

// The work folder for a package: <app data>/Zuvo Packer/<base name>, the base name being the
// package's file name with every occurrence of its extension removed. A base name that
// would name no folder of its own ("", "." or "..") becomes "Untitled".
QString PackageWorkFolder(const QString& packagePath);

// Deletes every file in the folder and its subfolders, keeping the folders; links are
// removed, never followed. Raises TError naming the first file that cannot be deleted.
void ClearFolder(const QString& folder);

// The packer's name, in its window's title and its boxes' captions.
inline const QString kPackerTitle = QStringLiteral("Zuvo Packer");

// What a build tells the one who started it, beyond its boxes.
struct TBuildHooks {
    std::function<void(const QString&)> Memo;                // a line of the build log
    std::function<void(int done, int total)> FramesComposed;  // decoding progress
    std::function<void()> Zipping;                            // the archive is being written
    std::function<void()> ProcessMessages;                    // between pieces of the archive
    std::function<void(bool built)> Done;                     // the outcome, before its box
    // When set, the box of a build that went through offers "Play", which calls this.
    std::function<void(const QString& package)> Play;
};

class QDir;
class QImage;

class TPackageBuilder {
public:
    TPackageBuilder(Prompts& prompts, TBuildHooks hooks);

    // Builds the project (names and full paths, in order) into the package for the name
    // chosen in the save dialog. Every failure has been reported when it returns false; an
    // older package at that path is then still there. A package path that is the project
    // file, one of its frames or audio files is refused, and so is one that is a link.
    bool Build(const QList<TProjectAction>& project, const QString& chosenName, const QString& projectFile = {});

    // Writes "zvk.xml", "zvk.png" and the audio copies into the folder of `target`.
    bool ComposePackage(const QList<TProjectAction>& project, const QString& target);
    bool RequireFile(const QString& path, const QString& message);
    // Packs every file of the folder, at any depth, into the package.
    bool ZipFolder(const QString& folder, const QString& packagePath);

private:
    // The work folder's lock, held while its descriptor is open.
    class TWorkFolderLock {
    public:
        explicit TWorkFolderLock(int descriptor) : descriptor_(descriptor) {}
        TWorkFolderLock(TWorkFolderLock&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
        TWorkFolderLock(const TWorkFolderLock&) = delete;
        TWorkFolderLock& operator=(const TWorkFolderLock&) = delete;
        TWorkFolderLock& operator=(TWorkFolderLock&&) = delete;
        ~TWorkFolderLock();
        bool Held() const { return descriptor_ >= 0; }
        int Descriptor() const { return descriptor_; }

    private:
        int descriptor_;
    };
    // Makes the work folder, never through a link, and takes its lock; reports why not.
    TWorkFolderLock LockWorkFolder(const QString& work);
    bool BuildUnguarded(const QList<TProjectAction>& project, const QString& chosenName, const QString& projectFile);
    // An error line in the log and the same text in an error box.
    void Fail(const QString& text);
    // The error box alone; the outcome is told first.
    void ShowError(const QString& text);
    // The log line and box of a file that does not exist.
    void ReportMissing(const QString& message);
    // Steps of ComposePackage; each reports its own failure.
    bool WithinPackageLimits(const QList<TProjectAction>& project);
    bool AllocateSheet(QSize size, QImage& sheet);
    bool ReportFrame(const TSheetComposer::Frame& frame, const QString& actionName, const QString& path);
    bool CopyAudio(const TProjectAction& action, const QDir& work, int& counter, TAction& built);

    Prompts& prompts_;
    TBuildHooks hooks_;
};
