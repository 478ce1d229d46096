#include "Commands.h"
#include "LoadPackage.h"

#include "player/PlaybackEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

    void ShowFrame(const TFragment& frame, int action) override
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

    const TLoadedPackage package = LoadPackage(path);
    if (package.Zvk.Actions.empty()) {
        PrintErr(QStringLiteral("%1: the package has no actions; nothing plays").arg(package.Path));
        return 1;
    }
    // The engine would go round for ever without sending a frame.
    if (std::all_of(package.Zvk.Actions.begin(), package.Zvk.Actions.end(),
                    [](const TAction& action) { return action.Fragments.empty(); })) {
        PrintErr(QStringLiteral("%1: no frames to play").arg(package.Path));
        return 1;
    }
    // As right after the program starts: the first show with ActionIndex 0. On a simulated
    // clock (--instant) every step comes exactly when due, without waiting.
    const bool instant = arguments.Flags.contains(QStringLiteral("--instant"));
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
