#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QMediaPlayer;

// A pet's voice: one audio file at a time, through Qt Multimedia where it can play here.
class TPetSound : public QObject {
public:
    explicit TPetSound(QObject* parent = nullptr) : QObject(parent) {}

    // Whether sound can be played here: Qt's player is there and so are the GStreamer
    // elements it builds on (base and good plug-ins), without which it crashes. Looked for
    // once.
    static bool Available();

    // Stops whatever plays, then plays the file; its length in milliseconds, or nothing when
    // it cannot be played. A file that fails later is passed over silently.
    std::optional<qint64> Play(const QString& path);
    void Stop();

private:
    QMediaPlayer* player_ = nullptr;  // made for the first sound
};
