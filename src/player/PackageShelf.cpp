#include "player/PackageShelf.h"

#include "common/Error.h"
#include "package/Manifest.h"
#include "package/PackageLayout.h"
#include "package/SpriteSheet.h"
#include "player/PackageCache.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

std::shared_ptr<TLoadedPackage> Load(const QString& path, const QFileInfo& file, Prompts& prompts,
                                     const std::function<void()>& processMessages)
{
    auto package = std::make_shared<TLoadedPackage>();
    package->Modified = file.lastModified();
    package->Size = file.size();
    const TCacheResult cache = PrepareCache(path, prompts, processMessages);
    package->CacheFolder = cache.Folder;
    package->Extracted = cache.Extracted;
    ReadManifest(QDir(cache.Folder).filePath(kManifestMember), package->Model);
    try {
        QImage clear;
        package->Sheet = LoadSpriteSheet(QDir(cache.Folder).filePath(kSheetMember), &clear);
        package->Shapes = TShapeCache(std::move(clear));
    } catch (const TError& error) {
        package->Nothing = error.Text();
    } catch (const std::bad_alloc&) {
        package->Nothing = QStringLiteral("not enough memory for its sprite sheet");
    }
    if (package->Nothing.isEmpty() && (!package->Sheet || package->Sheet->isNull()))
        package->Nothing = QStringLiteral("the package holds no frames");
    if (!package->Nothing.isEmpty())
        package->Sheet.reset();
    return package;
}

}  // namespace

std::shared_ptr<const TLoadedPackage> TPackageShelf::Take(const QString& path, Prompts& prompts,
                                                          const std::function<void()>& processMessages)
{
    const QFileInfo file(path);
    if (const auto found = packages_.find(path); found != packages_.end()) {
        const std::shared_ptr<TLoadedPackage> held = found->second.lock();
        // A package rebuilt since its pets started is loaded anew; they keep what they have.
        if (held && held->Nothing.isEmpty() && held->Modified == file.lastModified() && held->Size == file.size())
            return held;
    }
    std::shared_ptr<TLoadedPackage> package = Load(path, file, prompts, processMessages);
    ++loads_;
    // Packages no pet holds any more leave the map as new ones come.
    std::erase_if(packages_, [](const auto& entry) { return entry.second.expired(); });
    packages_[path] = package;
    return package;
}

int TPackageShelf::Held() const
{
    return static_cast<int>(std::count_if(packages_.begin(), packages_.end(),
                                          [](const auto& entry) { return !entry.second.expired(); }));
}

TPackageShelf& PackageShelf()
{
    static TPackageShelf shelf;
    return shelf;
}
