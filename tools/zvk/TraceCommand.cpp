#include "Commands.h"
#include "LoadPackage.h"

#include "player/PlaybackEngine.h"
#include "player/Roamer.h"

#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {

using TTime = TPlaybackEngine::TTime;

// Prints every frame as the real engine plays it: its time since the start, its action and
// its 40-character request text.
class PrintingTarget : public FrameTarget {
public:
    explicit PrintingTarget(TTime start) : start_(start) {}

    TTime Now;  // the step's time
    long Printed = 0;

    void ShowFrame(const TFrame& frame, int action) override
    {
        char text[41];
        FormatFrameRequest(frame, text);
        std::printf("%10.3f %4d %s\n", std::chrono::duration<double, std::milli>(Now - start_).count(), action, text);
        std::fflush(stdout);
        ++Printed;
    }

private:
    const TTime start_;
};

// "WxH" or "WxH+X+Y" (either offset may be negative: "+-1920+0").
QRect ParseScreen(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})(?:\\+(-?[0-9]{1,5})\\+(-?[0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = pattern.match(text);
    const QRect area = match.hasMatch() ? QRect(match.captured(3).toInt(), match.captured(4).toInt(),
                                                 match.captured(1).toInt(), match.captured(2).toInt())
                                        : QRect();
    if (area.isEmpty())
        throw UsageError{};
    return area;
}

// Roaming on the given screens, from the given place: each frame with the window's place, whether
// it is drawn mirrored, and the state.
int RoamTrace(const TArguments& arguments, const TExtractedPackage& package, long frames, bool instant)
{
    if (!TRoamer::CanRoam(package.Zvk)) {
        PrintErr(QStringLiteral("%1: no action with the walk role has frames; it cannot roam").arg(package.Path));
        return 1;
    }
    QList<QRect> screens;
    // The values of an option given more than once come newest first.
    const QStringList given = arguments.Options.values(QStringLiteral("--screen"));
    for (auto it = given.rbegin(); it != given.rend(); ++it)
        screens.append(ParseScreen(*it));
    if (screens.isEmpty())
        screens.append(QRect(0, 0, 1920, 1080));
    std::mt19937 generator;
    bool ok = true;
    if (arguments.Options.contains(QStringLiteral("--seed")))
        generator.seed(arguments.Options.value(QStringLiteral("--seed")).toUInt(&ok));
    else
        generator.seed(static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    QPoint foot(screens[0].center().x(), screens[0].bottom() + 1);
    if (arguments.Options.contains(QStringLiteral("--at"))) {
        static const QRegularExpression pattern(QStringLiteral("^(-?[0-9]{1,5}),(-?[0-9]{1,5})$"));
        const QRegularExpressionMatch match = pattern.match(arguments.Options.value(QStringLiteral("--at")));
        ok = ok && match.hasMatch();
        foot = QPoint(match.captured(1).toInt(), match.captured(2).toInt());
    }
    if (!ok)
        throw UsageError{};

    TRoamer roamer(package.Zvk, [&](std::int32_t last) { return std::uniform_int_distribution<std::int32_t>(0, last)(generator); });
    roamer.PlaceFoot(foot);
    roamer.SetScreens(screens);
    const TTime start = std::chrono::steady_clock::now();
    TTime due = start;
    for (long printed = 0; printed < frames;) {
        if (!instant)
            std::this_thread::sleep_until(due);
        const TTime now = instant ? due : std::chrono::steady_clock::now();
        const TRoamStep step = roamer.Step();
        due += std::chrono::milliseconds(step.PauseMs);
        if (step.Frame == nullptr)
            continue;
        char text[41];
        FormatFrameRequest(*step.Frame, text);
        std::printf("%10.3f %4d %s %d %d %d %s\n", std::chrono::duration<double, std::milli>(now - start).count(),
                    step.Action, text, step.TopLeft.x(), step.TopLeft.y(), step.Mirrored ? 1 : 0,
                    qPrintable(RoleName(step.State)));
        std::fflush(stdout);
        ++printed;
    }
    return 0;
}

}  // namespace

int TraceCommand(const TArguments& arguments)
{
    const QString path = arguments.Expect(1)[0];
    std::int32_t mode = kPlayRepeat;
    const QString modeName = arguments.Options.value(QStringLiteral("--mode"), QStringLiteral("repeat"));
    if (modeName == u"repeat")
        mode = kPlayRepeat;
    else if (modeName == u"single")
        mode = kPlaySingleRepeat;
    else if (modeName == u"random")
        mode = kPlayRandom;
    else
        throw UsageError{};
    bool ok = false;
    const long frames = arguments.Options.value(QStringLiteral("--frames"), QStringLiteral("100")).toLong(&ok);
    if (!ok || frames < 1)
        throw UsageError{};

    const TExtractedPackage package = LoadPackage(path);
    if (package.Zvk.Actions.empty()) {
        PrintErr(QStringLiteral("%1: the package has no actions; nothing plays").arg(package.Path));
        return 1;
    }
    // The engine would go round for ever without sending a frame.
    if (std::all_of(package.Zvk.Actions.begin(), package.Zvk.Actions.end(),
                    [](const TAction& action) { return action.Frames.empty(); })) {
        PrintErr(QStringLiteral("%1: no frames to play").arg(package.Path));
        return 1;
    }
    // As right after the program starts: the first show with ActionIndex 0. On a simulated
    // clock (--instant) every step comes exactly when due, without waiting.
    const bool instant = arguments.Flags.contains(QStringLiteral("--instant"));
    if (arguments.Flags.contains(QStringLiteral("--roam")))
        return RoamTrace(arguments, package, frames, instant);
    TPlaybackState state;
    state.PlayMode = mode;
    const TTime start = std::chrono::steady_clock::now();
    PrintingTarget target(start);
    TPlaybackEngine engine(state, &package.Zvk, start);
    while (target.Printed < frames) {
        if (!instant)
            std::this_thread::sleep_until(engine.Due());
        target.Now = instant ? engine.Due() : std::chrono::steady_clock::now();
        if (engine.Step(target.Now, target) == TPause::Ended)
            break;
    }
    return 0;
}
