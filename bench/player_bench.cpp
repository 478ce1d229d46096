// Playback engine cost per frame (its steps on a simulated clock), the time to read a
// large manifest, and the visible tops of a desktop's windows.
#include "package/Manifest.h"
#include "player/Ledges.h"
#include "player/PlaybackEngine.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

namespace {

class CountingTarget : public FrameTarget {
public:
    std::size_t checksum = 0;
    long shown = 0;

    void ShowFrame(const TFrame& frame, int action) override
    {
        checksum += static_cast<std::size_t>(frame.Width + frame.Height + action);
        ++shown;
    }
};

TZvk MakePackage(int actions, int framesPerAction)
{
    TZvk zvk;
    int index = 0;
    for (int a = 0; a < actions; ++a) {
        TAction action;
        action.Index = a;
        for (int f = 0; f < framesPerAction; ++f, ++index)
            action.Frames.push_back({index, index * 64, 0, 64 + f, 64});
        zvk.Actions.push_back(std::move(action));
    }
    return zvk;
}

// One iteration plays `frames` frames in Repeat mode, each step when it is due.
void BM_EngineFrames(benchmark::State& state)
{
    const long frames = state.range(0);
    const TZvk zvk = MakePackage(3, 8);
    CountingTarget target;
    for (auto _ : state) {
        TPlaybackState playback;
        TPlaybackEngine engine(playback, &zvk, {});
        target.shown = 0;
        while (target.shown < frames)
            engine.Step(engine.Due(), target);
    }
    benchmark::DoNotOptimize(target.checksum);
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["us_per_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations() * frames) / 1e6,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EngineFrames)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadManifest(benchmark::State& state)
{
    const int actions = 100;
    const int framesPerAction = static_cast<int>(state.range(0)) / actions;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zvk.xml"));
    {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">";
        int index = 0;
        for (int a = 0; a < actions; ++a) {
            text += "<Action><Name>Action " + QByteArray::number(a) + "</Name><ActionFragment>";
            for (int f = 0; f < framesPerAction; ++f, ++index) {
                text += "<Fragment><Index>" + QByteArray::number(index) + "</Index><Top>" +
                        QByteArray::number(index * 64) + "</Top><Left>0</Left><Width>64</Width><Height>64</Height></Fragment>";
            }
            text += "</ActionFragment><ActionAudio><Audio>" + QByteArray::number(a) + ".wav</Audio></ActionAudio></Action>";
        }
        text += "</ZuvoProject>";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            state.SkipWithError("cannot write the manifest");
            return;
        }
    }
    for (auto _ : state) {
        TZvk zvk;
        ReadManifest(path, zvk);
        if (zvk.Actions.size() != static_cast<std::size_t>(actions))
            state.SkipWithError("manifest not read in full");
        benchmark::DoNotOptimize(zvk);
    }
}
BENCHMARK(BM_ReadManifest)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A desktop of N windows of ordinary sizes strewn over a 1920x1080 screen, as the window
// ledges compute their tops at every change (0); N small ones crowded on the upper half of a
// 1280x800 one (2); and the worst shape: N/2 one-pixel-wide windows over N/2 wide ones (1).
void BM_VisibleTops(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    QList<QRect> windows;
    std::mt19937 generator(1);
    const auto draw = [&generator](int low, int high) { return std::uniform_int_distribution<int>(low, high)(generator); };
    for (int i = 0; i < n; ++i) {
        if (state.range(1) == 0)
            windows.append(QRect(draw(-100, 1800), draw(0, 1000), draw(100, 1200), draw(60, 900)));
        else if (state.range(1) == 2)  // bench/busy_desktop.sh's windows, with openbox's frames
            windows.append(QRect(draw(10, 1180), draw(0, 360), 92, 76));
        else
            windows.append(i < n / 2 ? QRect(0, 100 + i, 1537, 600) : QRect(3 * (i - n / 2) + 2, 50, 1, 1100));
    }
    qsizetype pieces = 0;
    for (auto _ : state)
        pieces = VisibleTops(windows).size();
    state.counters["ledges"] = static_cast<double>(pieces);
}
BENCHMARK(BM_VisibleTops)->Args({200, 0})->Args({1000, 0})->Args({200, 2})->Args({1000, 2})->Args({1024, 1})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
