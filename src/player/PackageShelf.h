#pragma once

#include "package/PackageCache.h"
#include "package/Zvk.h"
#include "player/ShapeCache.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Prompts;
class QObject;
struct TSheetStore;

// A decoded sprite sheet. Pets of identical package files share one; its memory counts
// against the shelf's budget while it lives.
struct TSheet {
    QImage Image;
    // The window shapes of the sheet's frames; kept as pets ask for them (UI thread only).
    mutable TShapeCache Shapes;
    std::int64_t Bytes = 0;
};

// A box the loading has to show, kept until a pet shows it on the UI thread.
struct TLoadMessage {
    QString Kind;  // "Error", "Warning", "Information", or a plain box's caption
    QString Text;
    QString Detail;  // an error's detail, shown under its text
};

// A package as its pets play it: extracted to its cache folder, its manifest read and its
// sheet decoded. Pets of one package share it; it is freed with the last of them.
struct TLoadedPackage {
    QString Path;
    QString CacheFolder;
    TZvk Model;
    // None: the pet cannot play, and Messages say why.
    std::shared_ptr<const TSheet> Sheet;
    QList<TLoadMessage> Messages;
    // The package file's size and time as it was loaded: a file changed since is loaded afresh.
    TPackageStamp File;
    // The first pet that gets the package shows its messages; the others say nothing more.
    mutable bool Told = false;
};

// Shows the package's messages in order, once of all the pets that get it (UI thread).
void ShowLoadMessages(const TLoadedPackage& package, Prompts& prompts);

// The memory that decoded sheets may take together: 1 GiB, or a quarter of the physical
// memory when that is less.
std::int64_t DefaultSheetBudget();

// Every package that pets play now, each loaded once, off the UI thread: a package is
// extracted, read and decoded on the shelf's own loading thread, one after another, and
// handed to its pets on the thread that asked for it.
class TPackageShelf {
public:
    using Ready = std::function<void(const std::shared_ptr<const TLoadedPackage>& package)>;
    class Waiter;
    // A pet's interest in a package being loaded: dropping it drops the interest.
    using Ticket = std::shared_ptr<Waiter>;

    explicit TPackageShelf(std::int64_t sheetBudget = DefaultSheetBudget());
    ~TPackageShelf();
    TPackageShelf(const TPackageShelf&) = delete;
    TPackageShelf& operator=(const TPackageShelf&) = delete;

    // The package at `path` for a pet: `ready` is called later, on this thread, with the one
    // already held for a pet of the same unchanged file or with one loaded for it. Pets that
    // ask while it loads wait for the same load. Never called once the ticket is dropped.
    [[nodiscard]] Ticket Take(const QString& path, Ready ready);

    // Removes the cache folder of a package that has left the library, unless a pet plays
    // it or waits for it; after the loads asked for before.
    void ForgetCache(const QString& path);
    // Removes the caches of packages in none of `keptPackages` and not played for a week,
    // sparing those that pets play; after the loads asked for before.
    void PruneCaches(const QStringList& keptPackages);

    // Packages loaded so far, those held by a pet now, and the sheets' memory now.
    int Loads() const { return loads_; }
    int Held() const;
    std::int64_t SheetBytes() const;
    std::int64_t Budget() const;
    // Waits until the loading thread has done all it was asked; results still come back
    // through the event loop.
    void WaitForLoader();

private:
    struct Loaded {
        QString Path;
        std::shared_ptr<const TLoadedPackage> Package;
    };

    // Asking thread: the job runs on the loading thread after those asked for before.
    void Post(std::function<void()> job);
    // Loading thread.
    void RunJobs();
    void Finished(Loaded loaded);
    // Asking thread, woken by the loading thread.
    void CollectLoaded();
    void Delivered(const QString& path, const std::shared_ptr<const TLoadedPackage>& package);
    QStringList InUse() const;

    std::shared_ptr<TSheetStore> store_;
    std::map<QString, std::weak_ptr<const TLoadedPackage>> packages_;
    std::map<QString, std::vector<std::weak_ptr<Waiter>>> loading_;
    int loads_ = 0;

    // Between the threads, all under one mutex: plain C++ and an eventfd, so thread
    // checkers see every step.
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    std::vector<Loaded> loaded_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread loader_;
    int wakeFd_ = -1;
    QPointer<QObject> home_;  // on the asking thread, gone with the application
};

// The process's shelf: every pet's package comes from it.
TPackageShelf& PackageShelf();
