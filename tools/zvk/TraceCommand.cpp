#include "Commands.h"
#include "LoadPackage.h"

#include "player/PlaybackEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// Prints every frame request as the real engine sends it, at real speed.
class PrintingTarget : public FrameTarget {
public:
    PrintingTarget(TPlaybackState& state, long frames) : state_(state), remaining_(frames) {}

    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void FrameRequest(std::string_view text, int action) override
    {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
        std::printf("%10.3f %4d %.*s\n", ms, action, static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
        if (--remaining_ <= 0)
            state_.Running = false;
    }

private:
    TPlaybackState& state_;
    long remaining_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
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
    // As right after the program starts: the first show with ActionIndex 0.
    TPlaybackState state;
    state.PlayMode = mode;
    PrintingTarget target(state, frames);
    TPlaybackEngine engine(state, &package.Zvk, target);
    engine.StartPlayback();
    engine.Join();
    return 0;
}
