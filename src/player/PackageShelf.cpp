#include "player/PackageShelf.h"

#include "common/Error.h"
#include "common/Prompts.h"
#include "package/Manifest.h"
#include "package/PackageCache.h"
#include "package/PackageLayout.h"
#include "package/SpriteSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QObject>
#include <QSocketNotifier>

#include <algorithm>
#include <mutex>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

// What the loading thread and the sheets share: the budget, and the sheets by content.
struct TSheetStore {
    explicit TSheetStore(std::int64_t budget) : Budget(budget) {}

    // False, with the memory taken already, when `bytes` more would pass the budget.
    bool Reserve(std::int64_t bytes, std::int64_t& taken)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        taken = Used;
        if (bytes > Budget - Used)
            return false;
        Used += bytes;
        return true;
    }
    void Release(std::int64_t bytes)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        Used -= bytes;
    }
    std::int64_t Taken() const
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        return Used;
    }

    const std::int64_t Budget;
    mutable std::mutex Mutex;
    std::int64_t Used = 0;
    // Loading thread only: the sheet of each package content that a pet holds.
    std::map<QString, std::weak_ptr<const TSheet>> ByContent;
};

class TPackageShelf::Waiter {
public:
    explicit Waiter(Ready ready) : ready_(std::move(ready)) {}
    void Call(const std::shared_ptr<const TLoadedPackage>& package) const { ready_(package); }

private:
    Ready ready_;
};

namespace {

// The extraction's boxes, kept for the UI thread: this thread may show none.
class TCollectedPrompts : public Prompts {
public:
    explicit TCollectedPrompts(QList<TLoadMessage>& messages) : messages_(messages) {}

    QStringList OpenFiles(const QString&) override { return {}; }
    QString OpenFile(const QString&) override { return {}; }
    QString SaveFile(const QString&, const QString&) override { return {}; }
    void Error(const QString& text) override { messages_.append({QStringLiteral("Error"), text, {}}); }
    void ErrorWithDetail(const QString& text, const QString& detail) override
    {
        messages_.append({QStringLiteral("Error"), text, detail});
    }
    void Information(const QString& text) override { messages_.append({QStringLiteral("Information"), text, {}}); }
    void Warning(const QString& text) override { messages_.append({QStringLiteral("Warning"), text, {}}); }
    void Message(const QString& caption, const QString& text) override { messages_.append({caption, text, {}}); }
    // Nobody is asked anything from here: "No", as for an extraction without prompts.
    bool Confirm(const QString&, const QString&) override { return false; }
    SaveChoice AskSaveChanges(const QString&) override { return SaveChoice::Cancel; }
    void ShowInFolder(const QString&) override {}

private:
    QList<TLoadMessage>& messages_;
};

QString Megabytes(std::int64_t bytes) { return QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1); }

// The package's sheet: the one already decoded for a package of the same content, or decoded
// now if the budget allows. Sets `refusal` (the whole message) or `reason` (why there is
// nothing to play) instead when it cannot.
std::shared_ptr<const TSheet> LoadSheet(const QString& path, const QString& file, const QString& content,
                                        const std::shared_ptr<TSheetStore>& store, QString& refusal, QString& reason)
{
    if (!content.isEmpty()) {
        if (std::shared_ptr<const TSheet> shared = store->ByContent[content].lock())
            return shared;
    }
    try {
        // Refused from the header, before any pixel memory is taken.
        const std::int64_t bytes = SheetMemory(file);
        if (bytes == 0) {
            reason = QStringLiteral("the package holds no frames");
            return nullptr;
        }
        std::int64_t taken = 0;
        if (!store->Reserve(bytes, taken)) {
            refusal = QStringLiteral("%1\nIts sprite sheet takes %2 MB; the sprite sheets of all pets may take %3 MB, "
                                     "of which %4 MB are free.")
                          .arg(path, Megabytes(bytes), Megabytes(store->Budget),
                               Megabytes(std::max<std::int64_t>(store->Budget - taken, 0)));
            return nullptr;
        }
        // The store keeps weak references to its sheets: a strong one back would keep both.
        const std::weak_ptr<TSheetStore> weakStore = store;
        auto sheet = std::shared_ptr<TSheet>(new TSheet, [weakStore](TSheet* gone) {
            if (const std::shared_ptr<TSheetStore> owner = weakStore.lock())
                owner->Release(gone->Bytes);
            delete gone;
        });
        sheet->Bytes = bytes;
        QImage clear;
        sheet->Image = LoadSpriteSheet(file, &clear);
        sheet->Shapes = TShapeCache(std::move(clear));
        if (!content.isEmpty())
            store->ByContent[content] = sheet;
        return sheet;
    } catch (const TError& error) {
        reason = error.Text();
    } catch (const std::bad_alloc&) {
        reason = QStringLiteral("not enough memory for its sprite sheet");
    }
    return nullptr;
}

// The loading thread's work for one package.
std::shared_ptr<const TLoadedPackage> Load(const QString& path, const QString& cacheRoot,
                                           const std::shared_ptr<TSheetStore>& store)
{
    auto package = std::make_shared<TLoadedPackage>();
    package->Path = path;
    package->File = FileStamp(path);
    TCollectedPrompts prompts(package->Messages);
    const TCacheResult cache = PrepareCache(path, prompts, {}, cacheRoot);
    package->CacheFolder = cache.Folder;
    ReadManifest(QDir(cache.Folder).filePath(kManifestMember), package->Model);

    QString reason;
    QString refusal;
    const bool anyFrame = std::any_of(package->Model.Actions.begin(), package->Model.Actions.end(),
                                      [](const TAction& action) { return !action.Frames.empty(); });
    if (cache.Extracted && !cache.HoldsSheet) {
        reason = QStringLiteral("the package holds no ") + kSheetMember;
    } else if (!anyFrame) {
        reason = QStringLiteral("the package holds no frames");
    } else {
        // Content counts only for what was just extracted from the file.
        const QString content =
            cache.Extracted ? QStringLiteral("%1:%2").arg(cache.Stamp.Size).arg(cache.Stamp.Directory) : QString();
        package->Sheet = LoadSheet(path, QDir(cache.Folder).filePath(kSheetMember), content, store, refusal, reason);
    }
    std::erase_if(store->ByContent, [](const auto& entry) { return entry.second.expired(); });
    if (!refusal.isEmpty())
        prompts.ErrorWithDetail(QStringLiteral("There is not enough memory for this pet."), refusal);
    // An empty box on top of every window helps nobody: the pet goes, saying why unless the
    // extraction's error has said it already.
    else if (!reason.isEmpty() && cache.Extracted)
        prompts.ErrorWithDetail(QStringLiteral("There is nothing to play."), path + u'\n' + reason);
    return package;
}

}  // namespace

void ShowLoadMessages(const TLoadedPackage& package, Prompts& prompts)
{
    if (std::exchange(package.Told, true))
        return;
    for (const TLoadMessage& message : package.Messages) {
        if (message.Kind == u"Error" && !message.Detail.isEmpty())
            prompts.ErrorWithDetail(message.Text, message.Detail);
        else if (message.Kind == u"Error")
            prompts.Error(message.Text);
        else if (message.Kind == u"Warning")
            prompts.Warning(message.Text);
        else if (message.Kind == u"Information")
            prompts.Information(message.Text);
        else
            prompts.Message(message.Kind, message.Text);
    }
}

std::int64_t DefaultSheetBudget()
{
    constexpr std::int64_t kGiB = std::int64_t{1} << 30;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return kGiB;
    return std::min(kGiB, std::int64_t{pages} / 4 * pageSize);
}

TPackageShelf::TPackageShelf(std::int64_t sheetBudget) : store_(std::make_shared<TSheetStore>(sheetBudget))
{
    // Deleted with the application, so that its notifier never outlives the event loop.
    home_ = new QObject(QCoreApplication::instance());
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return;  // results come through the event queue instead
    auto* wake = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, home_);
    QObject::connect(wake, &QSocketNotifier::activated, home_, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        CollectLoaded();
    });
}

TPackageShelf::~TPackageShelf()
{
    {
        // Jobs not started yet are dropped; the one under way ends first.
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    work_.notify_all();
    if (loader_.joinable())
        loader_.join();
    delete home_.data();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void TPackageShelf::Post(std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    if (!loader_.joinable())
        loader_ = std::thread([this] { RunJobs(); });
    work_.notify_one();
}

void TPackageShelf::RunJobs()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        job();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
        }
        idle_.notify_all();
    }
}

void TPackageShelf::Finished(Loaded loaded)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        loaded_.push_back(std::move(loaded));
    }
    const std::uint64_t one = 1;
    if (wakeFd_ < 0 || ::write(wakeFd_, &one, sizeof one) != sizeof one)
        QMetaObject::invokeMethod(home_.data(), [this] { CollectLoaded(); }, Qt::QueuedConnection);
}

void TPackageShelf::CollectLoaded()
{
    std::vector<Loaded> loaded;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        loaded.swap(loaded_);
    }
    for (const Loaded& one : loaded)
        Delivered(one.Path, one.Package);
}

TPackageShelf::Ticket TPackageShelf::Take(const QString& path, Ready ready)
{
    auto waiter = std::make_shared<Waiter>(std::move(ready));
    const std::weak_ptr<Waiter> weak = waiter;
    if (const auto found = packages_.find(path); found != packages_.end()) {
        const std::shared_ptr<const TLoadedPackage> held = found->second.lock();
        // A package rebuilt since its pets started is loaded anew; they keep what they have.
        if (held && held->File == FileStamp(path)) {
            QMetaObject::invokeMethod(
                home_.data(),
                [weak, held] {
                    if (const std::shared_ptr<Waiter> still = weak.lock())
                        still->Call(held);
                },
                Qt::QueuedConnection);
            return waiter;
        }
    }
    std::vector<std::weak_ptr<Waiter>>& waiting = loading_[path];
    waiting.push_back(weak);
    if (waiting.size() > 1)
        return waiter;  // the load under way serves this pet too
    ++loads_;
    // The cache root as this thread sees it now: the environment may change meanwhile.
    Post([this, path, root = CacheRoot(), store = store_] { Finished({path, Load(path, root, store)}); });
    return waiter;
}

void TPackageShelf::Delivered(const QString& path, const std::shared_ptr<const TLoadedPackage>& package)
{
    std::vector<std::weak_ptr<Waiter>> waiting;
    if (const auto found = loading_.find(path); found != loading_.end()) {
        waiting = std::move(found->second);
        loading_.erase(found);
    }
    // Packages no pet holds any more leave the map as new ones come.
    std::erase_if(packages_, [](const auto& entry) { return entry.second.expired(); });
    if (package->Sheet)
        packages_[path] = package;
    // A pet's handler may show a box, in which other results arrive: the list is ours.
    for (const std::weak_ptr<Waiter>& weak : waiting) {
        if (const std::shared_ptr<Waiter> waiter = weak.lock())
            waiter->Call(package);
    }
}

QStringList TPackageShelf::InUse() const
{
    QStringList paths;
    for (const auto& [path, package] : packages_) {
        if (!package.expired())
            paths.append(path);
    }
    for (const auto& [path, waiting] : loading_)
        paths.append(path);
    return paths;
}

void TPackageShelf::ForgetCache(const QString& path)
{
    if (InUse().contains(path))
        return;
    Post([path, root = CacheRoot()] { ForgetPackageCache(path, root); });
}

void TPackageShelf::PruneCaches(const QStringList& keptPackages)
{
    const QStringList kept = keptPackages + InUse();
    const QDateTime usedBefore = QDateTime::currentDateTimeUtc().addDays(-kUnusedCacheDays);
    Post([kept, usedBefore, root = CacheRoot()] {
        for (const TCacheFolder& cache : UnusedCaches(kept, usedBefore, root))
            RemoveCacheFolder(cache.Folder);
    });
}

void TPackageShelf::WaitForLoader()
{
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

int TPackageShelf::Held() const
{
    return static_cast<int>(std::count_if(packages_.begin(), packages_.end(),
                                          [](const auto& entry) { return !entry.second.expired(); }));
}

std::int64_t TPackageShelf::SheetBytes() const { return store_->Taken(); }

std::int64_t TPackageShelf::Budget() const { return store_->Budget; }

TPackageShelf& PackageShelf()
{
    static TPackageShelf shelf;
    return shelf;
}
