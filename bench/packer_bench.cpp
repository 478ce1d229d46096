// The packer with a large project: opening and saving 100 actions of 100 frames each,
// switching between two actions of 1,000 frames each, from the selection to the painted list,
// the preview's first frame after selecting an action of 100 frames not decoded yet, undoing
// and redoing frame moves in a project of 10,000 frames, and the frame list's pictures of a
// 1,000-frame action with the longest the UI thread was kept from its events meanwhile.
#include "common/Prompts.h"
#include "packer/FrameThumbnails.h"
#include "packer/PackerEditor.h"
#include "packer/ProjectFile.h"
#include "packer/PreviewPane.h"
#include "packer/FrmPacker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Answers every dialog with one file and keeps quiet.
class FixedPrompts : public Prompts {
public:
    QString file;
    QStringList OpenFiles(const QString&) override { return {}; }
    QString OpenFile(const QString&) override { return file; }
    using Prompts::SaveFile;
    QString SaveFile(const QString&, const QString&) override { return file; }
    void Error(const QString& text) override { qFatal("%s", qPrintable(text)); }
    void Information(const QString&) override {}
    void Warning(const QString& text) override { qFatal("%s", qPrintable(text)); }
    void Message(const QString&, const QString&) override {}
    bool Confirm(const QString&, const QString&) override { return false; }
    SaveChoice AskSaveChanges(const QString&) override { return SaveChoice::Discard; }
    void ShowInFolder(const QString&) override {}
};

// A project file of `actions` actions with `frames` frames each, in a subfolder of `dir`.
QString WriteProject(const QTemporaryDir& dir, int actions, int frames)
{
    QList<TProjectAction> project;
    for (int a = 0; a < actions; ++a) {
        TProjectAction action{QStringLiteral("Action %1").arg(a), {}, {}};
        for (int f = 0; f < frames; ++f)
            action.Frames.append(dir.filePath(QStringLiteral("frames/action%1/frame%2.png").arg(a).arg(f)));
        project.append(action);
    }
    const QString path = dir.filePath(QStringLiteral("pet.zvp"));
    SaveProject(path, project);
    return path;
}

// A project of an action "Walk" with `frames` anti-aliased RGBA frames, as a pet's usually
// are, drawn into `dir`, and an empty action; its file's path in `file`.
QList<TProjectAction> WriteDrawnProject(const QTemporaryDir& dir, int frames, QString& file)
{
    QList<TProjectAction> project{{QStringLiteral("Walk"), {}, {}}, {QStringLiteral("Empty"), {}, {}}};
    for (int f = 0; f < frames; ++f) {
        QImage frame(128, 128, QImage::Format_ARGB32);
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(255, 200, 40));
        painter.drawEllipse(QRectF(20 + f % 10, 30, 88, 80));
        painter.end();
        project[0].Frames.append(dir.filePath(QStringLiteral("frame%1.png").arg(f)));
        frame.save(project[0].Frames.last());
    }
    file = dir.filePath(QStringLiteral("pet.zvp"));
    SaveProject(file, project);
    return project;
}

void BM_OpenProject(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    prompts.file = WriteProject(dir, 100, static_cast<int>(state.range(0)) / 100);
    TPackerEditor editor(prompts);
    for (auto _ : state) {
        editor.FileOpen();
        if (editor.Actions().Count() != 100)
            state.SkipWithError("project not read whole");
    }
}
BENCHMARK(BM_OpenProject)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveProject(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    prompts.file = WriteProject(dir, 100, static_cast<int>(state.range(0)) / 100);
    TPackerEditor editor(prompts);
    editor.FileOpen();
    editor.SelectAction(0);
    for (auto _ : state) {
        if (!editor.FileSave())
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveProject)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SwitchActions(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    prompts.file = WriteProject(dir, 2, static_cast<int>(state.range(0)));
    TFrmPacker window(prompts);
    window.show();
    window.Editor().FileOpen();
    auto* list = window.findChild<QTableView*>(QStringLiteral("frameList"));
    int next = 0;
    for (auto _ : state) {
        window.Editor().SelectAction(next);
        list->viewport()->repaint();
        next = 1 - next;
    }
    if (window.Editor().Frames().rowCount() != state.range(0))
        state.SkipWithError("list not filled");
}
BENCHMARK(BM_SwitchActions)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewFirstFrame(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    const QList<TProjectAction> project = WriteDrawnProject(dir, static_cast<int>(state.range(0)), prompts.file);
    TFrmPacker window(prompts);
    window.show();
    window.Editor().FileOpen();
    TPreviewPane* preview = window.Preview();
    std::vector<double> allDecoded;
    for (auto _ : state) {
        state.PauseTiming();
        window.Editor().SelectAction(1);
        preview->Forget();
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        window.Editor().SelectAction(0);
        while (preview->ShownFrame() != 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        preview->repaint();
        state.PauseTiming();
        while (preview->Decoded().Find(preview->Frames().last()) == nullptr)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        allDecoded.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        state.ResumeTiming();
    }
    std::sort(allDecoded.begin(), allDecoded.end());
    state.counters["all_decoded_ms"] = allDecoded[allDecoded.size() / 2];
}
BENCHMARK(BM_PreviewFirstFrame)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resident memory of this process, in KiB.
long ResidentKiB()
{
    long kib = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
                break;
        }
        std::fclose(status);
    }
    return kib;
}

// 1,000 frame moves made, then each undone and redone: the time of one undo plus one redo,
// and the memory the history takes.
void BM_UndoFrameMoves(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    prompts.file = WriteProject(dir, 1, static_cast<int>(state.range(0)));
    TPackerEditor editor(prompts);
    editor.FileOpen();
    editor.SelectAction(0);
    const long before = ResidentKiB();
    for (int step = 0; step < 1000; ++step)
        editor.Edit(QStringLiteral("Move Frames"), [&] { editor.Frames().MoveDown(step * 7 % 9000); });
    state.counters["history_KiB"] = static_cast<double>(ResidentKiB() - before);
    for (auto _ : state) {
        editor.History().undo();
        editor.History().redo();
    }
    if (editor.History().count() != 1000)
        state.SkipWithError("steps lost");
}
BENCHMARK(BM_UndoFrameMoves)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// From showing an action of 1,000 frames none decoded yet to a picture for each in the list;
// the counter is the longest the UI thread went without taking its events.
void BM_Thumbnails(benchmark::State& state)
{
    QTemporaryDir dir;
    FixedPrompts prompts;
    const QList<TProjectAction> project = WriteDrawnProject(dir, static_cast<int>(state.range(0)), prompts.file);
    TFrmPacker window(prompts);
    window.show();
    window.Editor().FileOpen();
    auto* list = window.findChild<QTableView*>(QStringLiteral("frameList"));
    auto* thumbnails = dynamic_cast<TFrameThumbnails*>(list->itemDelegateForColumn(0));
    double longestStall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.Editor().SelectAction(1);
        window.Preview()->Forget();
        state.ResumeTiming();
        window.Editor().SelectAction(0);
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        // Each turn of the loop is the UI thread back at its events; the list is painted as
        // the pictures come, and every row's picture is made.
        for (int row = 0; row < state.range(0);) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            longestStall = std::max(longestStall, static_cast<double>(sinceEvents.nsecsElapsed()) / 1e6);
            sinceEvents.start();
            while (row < state.range(0) && !thumbnails->Thumbnail(project[0].Frames[row]).isNull())
                ++row;
        }
    }
    state.counters["longest_stall_ms"] = longestStall;
}
BENCHMARK(BM_Thumbnails)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes on window hints would bury the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtWarningMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
