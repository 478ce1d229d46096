#pragma once

#include "archive/ZipExtractor.h"
#include "package/Manifest.h"
#include "package/PackageCache.h"
#include "package/PackageLayout.h"
#include "package/SpriteSheet.h"
#include "packer/PackageBuild.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QImage>

// Each pixel different, so a misplaced row or column shows.
inline QImage Pattern(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + seed) & 0xFF, (y * 5 + seed * 3) & 0xFF, (x * y + seed) & 0xFF));
    return image;
}

// The frames of an action as the player finds them in the built package.
struct Played {
    TZvk zvk;
    QImage sheet;
    QImage Frame(int action, int frame) const
    {
        const TFrame& f = zvk.Actions[static_cast<std::size_t>(action)].Frames[static_cast<std::size_t>(frame)];
        return sheet.copy(f.Left, f.Top, f.Width, f.Height).convertToFormat(QImage::Format_RGB32);
    }
};

// Builds packages from frame files saved in the test's folder, and opens them as the player does.
class PackageBuildTest : public TempDirTest {
protected:
    QString Save(const QString& name, const QImage& image, const char* format = "PNG")
    {
        const QString path = Path(name);
        EXPECT_TRUE(image.save(path, format)) << name.toStdString();
        return path;
    }

    bool Build(const QList<TProjectAction>& project, const QString& chosen, const QString& projectFile = {})
    {
        memo_.clear();
        prompts_.messages.clear();
        TBuildHooks hooks;
        hooks.Memo = [this](const QString& line) { memo_.append(line); };
        return TPackageBuilder(prompts_, hooks).Build(project, chosen, projectFile);
    }

    Played Play(const QString& package)
    {
        const TCacheResult cache = PrepareCache(package, prompts_);
        EXPECT_TRUE(cache.Extracted);
        Played played;
        ReadManifest(QDir(cache.Folder).filePath(kManifestMember), played.zvk);
        played.sheet = LoadSpriteSheet(QDir(cache.Folder).filePath(kSheetMember));
        return played;
    }

    QStringList Members(const QString& package)
    {
        TZipExtractor zip;
        zip.ZipName = package;
        zip.ReadDirectory();
        QStringList names;
        for (const TZipEntry& entry : zip.Entries())
            names.append(entry.FileName);
        names.sort();
        return names;
    }

    // The one error the build showed, checked to be in the log as well.
    QString ShownError()
    {
        EXPECT_FALSE(prompts_.messages.isEmpty());
        return prompts_.messages.isEmpty() ? QString() : prompts_.messages.last().text;
    }

    ScriptedPrompts prompts_;
    QStringList memo_;
};
