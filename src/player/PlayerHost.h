#pragma once

#include <QString>

// What the library window needs of the player window: the road of one "Play".
class PlayerHost {
public:
    virtual ~PlayerHost() = default;

    virtual bool IsShowing() const = 0;
    // Restores a minimized player to its normal state and closes it, stopping playback.
    virtual void RestoreAndClose() = 0;
    virtual void SetPackagePath(const QString& path) = 0;
    virtual void ShowPlayer() = 0;
};
