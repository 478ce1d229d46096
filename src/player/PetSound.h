#pragma once

#include <QPointer>
#include <QString>

class QObject;

// A pet's voice: one audio file at a time, through Qt Multimedia where it can play here.
// The player lives on a thread of its own: starting a sound may wait on the sound server,
// which must never hold up the pet.
class TPetSound {
public:
    TPetSound() = default;
    ~TPetSound();
    TPetSound(const TPetSound&) = delete;
    TPetSound& operator=(const TPetSound&) = delete;

    // Whether sound can be played here: Qt's player is there and so are the GStreamer
    // elements it builds on (base and good plug-ins), without which it crashes. Looked for
    // once.
    static bool Available();

    // Stops whatever plays, then plays the file. A file that cannot be played is passed
    // over silently.
    void Play(const QString& path);
    void Stop();

private:
    // Lives on the sound thread and holds the player, both made for the first sound.
    QPointer<QObject> worker_;
};
