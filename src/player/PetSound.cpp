#include "player/PetSound.h"

#ifdef ZUVORA_HAVE_MULTIMEDIA
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

#include <gst/gst.h>
#endif

bool TPetSound::Available()
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    static const bool available = [] {
        if (!gst_init_check(nullptr, nullptr, nullptr))
            return false;
        for (const char* element : {"audioconvert", "audioresample", "volume", "autoaudiosink", "decodebin", "uridecodebin"}) {
            GstElementFactory* factory = gst_element_factory_find(element);
            if (factory == nullptr)
                return false;
            gst_object_unref(factory);
        }
        return true;
    }();
    return available;
#else
    return false;
#endif
}

void TPetSound::Stop()
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    if (player_ != nullptr && player_->playbackState() == QMediaPlayer::PlayingState)
        player_->stop();
#endif
}

std::optional<qint64> TPetSound::Play(const QString& path)
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    if (!Available())
        return std::nullopt;
    if (player_ == nullptr) {
        player_ = new QMediaPlayer(this);
        player_->setAudioOutput(new QAudioOutput(player_));
    }
    Stop();
    player_->setSource(QUrl::fromLocalFile(path));
    if (player_->error() != QMediaPlayer::NoError)
        return std::nullopt;
    player_->play();
    if (player_->error() != QMediaPlayer::NoError)
        return std::nullopt;
    return player_->duration();
#else
    Q_UNUSED(path);
    return std::nullopt;
#endif
}
