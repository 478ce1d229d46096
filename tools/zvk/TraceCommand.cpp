#include "Commands.h"
#include "LoadPackage.h"

#include "player/PlaybackEngine.h"

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

int TraceCommand(const QStringList& args)
{
    QStringList rest = args;
    std::int32_t mode = kPlayRepeat;
    long frames = 100;
    while (rest.size() > 1 && rest[0].startsWith(QStringLiteral("--"))) {
        const QString option = rest.takeFirst();
        const QString value = rest.takeFirst();
        if (option == u"--mode") {
            if (value == u"repeat")
                mode = kPlayRepeat;
            else if (value == u"single")
                mode = kPlaySingleRepeat;
            else if (value == u"random")
                mode = kPlayRandom;
            else
                throw UsageError{};
        } else if (option == u"--frames") {
            bool ok = false;
            frames = value.toLong(&ok);
            if (!ok || frames < 1)
                throw UsageError{};
        } else {
            throw UsageError{};
        }
    }
    if (rest.size() != 1)
        throw UsageError{};

    const TLoadedPackage package = LoadPackage(rest[0]);
    if (package.Zvk.Actions.empty()) {
        PrintErr(QStringLiteral("%1: the package has no actions; nothing plays").arg(package.Path));
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
