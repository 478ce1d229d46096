#pragma once

#include "package/Zvk.h"
#include "player/ShapeCache.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class Prompts;

// A package as its pets play it: extracted to its cache folder, its manifest read and its
// sheet decoded. Pets of one package share it; it is freed with the last of them.
struct TLoadedPackage {
    QString CacheFolder;
    // The extraction ran and said what went wrong, if anything did.
    bool Extracted = false;
    TZvk Model;
    std::optional<QImage> Sheet;  // none: nothing may be drawn; a null image: nothing to draw
    // The window shapes of the sheet's frames; kept as pets ask for them (UI thread only).
    mutable TShapeCache Shapes;
    QString Nothing;              // why there is nothing to play; empty when there is
    // The package file as it was loaded: a file changed since is loaded afresh.
    QDateTime Modified;
    qint64 Size = -1;
};

// Every package that pets play now, each loaded once.
class TPackageShelf {
public:
    // The package at `path` as a pet plays it: the one already loaded for a pet of the same
    // file, or loaded now (with `processMessages` called during a long extraction).
    std::shared_ptr<const TLoadedPackage> Take(const QString& path, Prompts& prompts,
                                                const std::function<void()>& processMessages = {});
    // Packages loaded so far, and those held by a pet now.
    int Loads() const { return loads_; }
    int Held() const;

private:
    std::map<QString, std::weak_ptr<TLoadedPackage>> packages_;
    int loads_ = 0;
};

// The process's shelf: every pet's package comes from it.
TPackageShelf& PackageShelf();
