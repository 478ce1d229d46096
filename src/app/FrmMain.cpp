#include "app/FrmMain.h"

#include "app/Autostart.h"
#include "app/LibraryEditor.h"
#include "player/PackageShelf.h"
#include "player/PlayerHost.h"
#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/PetMemory.h"
#include "package/PackageLayout.h"
#include "ui/FileListView.h"
#include "ui/Panes.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSplitter>
#include <QToolBar>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// A package that leaves the library takes its cache folder along, unless a row still
// lists it.
void ForgetCachesOfRemovedRows(const TFileListModel& model, QObject* context)
{
    auto leaving = std::make_shared<QStringList>();
    QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, context,
                     [&model, leaving](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             leaving->append(model.Rows().value(row).Path);
                     });
    QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset, context,
                     [&model, leaving] { leaving->append(model.Paths()); });
    const auto forget = [&model, leaving] {
        const QStringList listed = model.Paths();
        for (const QString& path : std::exchange(*leaving, {})) {
            if (!path.isEmpty() && !listed.contains(path))
                PackageShelf().ForgetCache(path);
        }
    };
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved, context, forget);
    QObject::connect(&model, &QAbstractItemModel::modelReset, context, forget);
}

}  // namespace

TFrmMain::TFrmMain(Prompts& prompts, QString libraryFile, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), editor_(prompts, std::move(libraryFile))
{
    setWindowTitle(kAppTitle);
    setObjectName(QStringLiteral("FrmMain"));
    resize(1000, 480);
    BuildToolBar();
    BuildList();
    ForgetCachesOfRemovedRows(editor_.Model(), this);

    log_ = LogPane(QStringLiteral("log"));
    connect(&SettingsSignals(), &TSettingsSignals::SettingsNotKept, log_, &QPlainTextEdit::appendPlainText);

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(packageList_);
    splitter->addWidget(log_);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({340, 80});
    setCentralWidget(splitter);

    playTimer_.setSingleShot(true);
    playTimer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire 5% early
    playTimer_.setInterval(kPlayDelayMs);
    connect(&playTimer_, &QTimer::timeout, this, [this] {
        if (player_ == nullptr)
            return;
        player_->SetPackagePath(pendingPlayPath_);
        player_->ShowPlayer();
    });
}

void TFrmMain::BuildToolBar()
{
    toolBar_ = addToolBar(QStringLiteral("Library"));
    toolBar_->setObjectName(QStringLiteral("tbMain"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);

    const auto button = [this](const QString& caption, void (TFrmMain::*handler)(), bool visible = true) {
        if (!toolBar_->actions().isEmpty())
            toolBar_->addSeparator()->setVisible(visible);
        QAction* action = toolBar_->addAction(caption, this, handler);
        action->setObjectName(QStringLiteral("btn") + QString(caption).remove(u' '));
        action->setVisible(visible);
    };
    button(QStringLiteral("Add"), &TFrmMain::OnAddClicked);
    button(QStringLiteral("Delete"), &TFrmMain::OnDeleteClicked);
    button(QStringLiteral("Up"), &TFrmMain::OnMoveUpClicked);
    button(QStringLiteral("Down"), &TFrmMain::OnMoveDownClicked);
    // "Clear" empties the library without asking, so it is kept off the tool bar and
    // reached through the list's pop-up menu only.
    button(QStringLiteral("Clear"), &TFrmMain::OnClearClicked, false);
    button(QStringLiteral("Play"), &TFrmMain::OnPlayClicked);
    button(QStringLiteral("Play Alongside"), &TFrmMain::OnPlayAlongsideClicked);
    button(QStringLiteral("Packer"), &TFrmMain::OnPackerClicked);
    button(QStringLiteral("About"), &TFrmMain::OnAboutClicked);
}

void TFrmMain::BuildList()
{
    packageList_ = new TFileListView(QStringLiteral("packageList"));
    packageList_->setModel(&editor_.Model());
    // With Shift held, a double click or Enter starts one more pet instead of replacing one.
    connect(packageList_, &QTableView::doubleClicked, this, [this] {
        if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
            OnPlayAlongsideClicked();
        else
            OnPlayClicked();
    });
    const auto key = [this](QKeyCombination combination, void (TFrmMain::*handler)()) {
        auto* shortcut = new QShortcut(QKeySequence(combination), packageList_, nullptr, nullptr, Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    key(Qt::Key_Return, &TFrmMain::OnPlayClicked);
    key(Qt::Key_Enter, &TFrmMain::OnPlayClicked);
    key(Qt::SHIFT | Qt::Key_Return, &TFrmMain::OnPlayAlongsideClicked);
    key(Qt::SHIFT | Qt::Key_Enter, &TFrmMain::OnPlayAlongsideClicked);
    key(Qt::Key_Delete, &TFrmMain::OnDeleteClicked);

    listMenu_ = ContextMenu<TFrmMain>(packageList_, QStringLiteral("pmList"), this,
                                    {{QStringLiteral("Play"), &TFrmMain::OnPlayClicked},
                                     {QStringLiteral("Play Alongside"), &TFrmMain::OnPlayAlongsideClicked},
                                     {QStringLiteral("Open Containing Folder"), &TFrmMain::OnOpenFolderClicked},
                                     {QStringLiteral("Add"), &TFrmMain::OnAddClicked},
                                     {QStringLiteral("Delete"), &TFrmMain::OnDeleteClicked},
                                     {QStringLiteral("Up"), &TFrmMain::OnMoveUpClicked},
                                     {QStringLiteral("Down"), &TFrmMain::OnMoveDownClicked},
                                     {QStringLiteral("Clear"), &TFrmMain::OnClearClicked}});
    listMenu_->addSeparator();
    startWithDesktop_ = listMenu_->addAction(QStringLiteral("Start with the Desktop"), this,
                                           [this](bool on) { SetStartWithDesktop(on); });
    startWithDesktop_->setObjectName(QStringLiteral("miStartWithDesktop"));
    startWithDesktop_->setCheckable(true);
    holdStill_ = listMenu_->addAction(QStringLiteral("Hold Pets Still"), this, [](bool on) { SetPetsHeldStill(on); });
    holdStill_->setObjectName(QStringLiteral("miHoldPetsStill"));
    holdStill_->setCheckable(true);
    aboveFullscreen_ = listMenu_->addAction(QStringLiteral("Stay Above Fullscreen Windows"), this,
                                          [](bool on) { SetPetsAboveFullscreen(on); });
    aboveFullscreen_->setObjectName(QStringLiteral("miAboveFullscreen"));
    aboveFullscreen_->setCheckable(true);
    // The entry may have been removed by hand, or written by another Zuvora; the tray may
    // have held the pets still.
    connect(listMenu_, &QMenu::aboutToShow, startWithDesktop_, [this] {
        startWithDesktop_->setChecked(StartsWithDesktop());
        holdStill_->setChecked(PetsHeldStill());
        aboveFullscreen_->setChecked(PetsAboveFullscreen());
    });
}

int TFrmMain::SelectedRow() const { return packageList_->SelectedRow(); }

void TFrmMain::SelectRow(int row) { packageList_->SelectRow(row); }

void TFrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    EnsureLoaded();
}

void TFrmMain::EnsureLoaded()
{
    if (std::exchange(loaded_, true))
        return;
    packageList_->SetStartingColumnWidths();
    editor_.Load();
    // Play plays something from the start: the first row, until the person picks another.
    if (editor_.Model().rowCount() > 0 && SelectedRow() < 0)
        SelectRow(0);
    // Caches of packages in no library that were not played for a week.
    PackageShelf().PruneCaches(editor_.Model().Paths());
}

void TFrmMain::SetStartWithDesktop(bool on)
{
    if (const std::optional<QString> failure = ::SetStartWithDesktop(on, QCoreApplication::applicationFilePath()))
        prompts_.Error(*failure);
    startWithDesktop_->setChecked(StartsWithDesktop());
}

void TFrmMain::closeEvent(QCloseEvent* event)
{
    // The program ends with this window: the packer's project must not go unasked. Its
    // close is the one way to keep the program running (the person cancelled).
    if (packer_ != nullptr && packer_->isVisible() && !packer_->close()) {
        event->ignore();
        return;
    }
    FormCloseQuery();
    event->accept();
    emit Closed();
}

void TFrmMain::FormCloseQuery()
{
    playTimer_.stop();
    if (player_ != nullptr)
        player_->CloseAll();
    // A library never read would be written empty over the user's.
    if (loaded_)
        editor_.Save();
}

void TFrmMain::OnAddClicked() { AppendPackages(prompts_.OpenFiles(kPackageFilter)); }

void TFrmMain::OpenPackages(const QStringList& nativePaths)
{
    EnsureLoaded();
    // Only files: a folder or a device named by another program is no package, and a package
    // listed already plays from its row rather than being listed again.
    QStringList fresh;
    QStringList refused;
    QList<int> rows;
    for (const QString& path : nativePaths) {
        const QFileInfo file(path);
        if (!file.isFile()) {
            refused.append(file.exists() ? QStringLiteral("%1 is not a file").arg(path) : path + QStringLiteral(" does not exist!"));
            continue;
        }
        const QList<TFileRow>& listed = editor_.Model().Rows();
        const auto same = std::find_if(listed.begin(), listed.end(), [&](const TFileRow& row) {
            return row.Path == path || QFileInfo(row.Path).canonicalFilePath() == file.canonicalFilePath();
        });
        if (same != listed.end())
            rows.append(static_cast<int>(same - listed.begin()));
        else if (!fresh.contains(path))
            fresh.append(path);
    }
    const int first = editor_.Model().rowCount();
    AppendPackages(fresh);
    for (int row = first; row < editor_.Model().rowCount(); ++row)
        rows.append(row);
    if (!refused.isEmpty())
        prompts_.Error(refused.join(u'\n'));
    if (rows.isEmpty())
        return;
    SelectRow(rows.first());
    // Each its own pet, beside whatever plays already.
    for (const int row : rows) {
        const QString path = editor_.ExistingPath(row);
        if (player_ != nullptr && !path.isEmpty() && !player_->PlayAlongside(path))
            break;
    }
}

void TFrmMain::AppendPackages(const QStringList& nativePaths) { editor_.AppendPackages(nativePaths); }

void TFrmMain::PlayPackage(const QString& nativePath)
{
    EnsureLoaded();
    const QList<TFileRow>& rows = editor_.Model().Rows();
    auto listed = std::find_if(rows.begin(), rows.end(), [&](const TFileRow& row) { return row.Path == nativePath; });
    if (listed == rows.end()) {
        AppendPackages({nativePath});
        listed = std::find_if(rows.begin(), rows.end(), [&](const TFileRow& row) { return row.Path == nativePath; });
        if (listed == rows.end())
            return;  // a path the library cannot keep, named
    }
    SelectRow(static_cast<int>(listed - rows.begin()));
    OnPlayClicked();
}

void TFrmMain::OnDeleteClicked() { packageList_->EditSelected(&TFileListModel::Delete); }

void TFrmMain::OnMoveUpClicked() { packageList_->EditSelected(&TFileListModel::MoveUp); }

void TFrmMain::OnMoveDownClicked() { packageList_->EditSelected(&TFileListModel::MoveDown); }

void TFrmMain::OnClearClicked() { editor_.Model().Clear(); }

QString TFrmMain::SelectedExistingPath() { return editor_.ExistingPath(SelectedRow()); }

void TFrmMain::OnPlayClicked()
{
    // Nothing selected, the first package plays.
    if (SelectedRow() < 0 && editor_.Model().rowCount() > 0)
        SelectRow(0);
    const QString path = SelectedExistingPath();
    if (path.isEmpty())
        return;
    if (player_ != nullptr && player_->IsShowing())
        player_->RestoreAndClose();
    // The pause gives the closed player time to let go of its package; a second Play in
    // that time only changes which package is shown.
    pendingPlayPath_ = path;
    playTimer_.start();
}

void TFrmMain::OnPlayAlongsideClicked()
{
    const QString path = SelectedExistingPath();
    if (!path.isEmpty() && player_ != nullptr)
        player_->PlayAlongside(path);
}

void TFrmMain::OnPackerClicked()
{
    if (packer_ == nullptr)
        return;
    packer_->show();
    packer_->raise();
    packer_->activateWindow();
}

void TFrmMain::OnAboutClicked() { ShowAbout(prompts_); }

void TFrmMain::OnOpenFolderClicked()
{
    const QString path = SelectedExistingPath();
    if (!path.isEmpty())
        prompts_.ShowInFolder(path);
}
