#pragma once

#include <QString>

// What the library window needs of the pets: the road of one "Play", whose pet the next
// "Play" replaces, and pets started alongside it.
class PlayerHost {
public:
    virtual ~PlayerHost() = default;

    // Play's pet.
    virtual bool IsShowing() const = 0;
    // Restores a minimized player to its normal state and closes it, stopping playback.
    virtual void RestoreAndClose() = 0;
    virtual void SetPackagePath(const QString& path) = 0;
    virtual void ShowPlayer() = 0;

    // Starts the package as one more pet, leaving the others as they are. False when no
    // more pets may play, having said so.
    virtual bool PlayAlongside(const QString& path) = 0;
    // Closes every pet.
    virtual void CloseAll() = 0;
};
