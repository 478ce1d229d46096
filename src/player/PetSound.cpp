#include "player/PetSound.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#ifdef ZUVORA_HAVE_MULTIMEDIA
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

#include <gst/gst.h>
#endif

namespace {

// The one thread every pet's sounds play on, ended with the program.
QThread* SoundThread()
{
    static QThread* thread = [] {
        auto* made = new QThread;
        made->setObjectName(QStringLiteral("Zuvora sound"));
        made->start();
        // A sound server that never answers must not hold up the end: the thread gets a
        // second, then is left to the end of the process.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, made, [made] {
            made->quit();
            made->wait(QDeadlineTimer(1000));
        });
        return made;
    }();
    return thread;
}

}  // namespace

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

TPetSound::~TPetSound()
{
    if (worker_)
        worker_->deleteLater();
}

void TPetSound::Stop()
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    if (QObject* worker = worker_.data()) {
        QMetaObject::invokeMethod(
            worker,
            [worker] {
                if (auto* media = worker->findChild<QMediaPlayer*>())
                    media->stop();
            },
            Qt::QueuedConnection);
    }
#endif
}

void TPetSound::Play(const QString& path)
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    // Only a regular file: a pipe named like an audio file would hold the sound thread forever.
    if (!Available() || !QFileInfo(path).isFile())
        return;
    if (!worker_) {
        auto* worker = new QObject;
        worker->moveToThread(SoundThread());
        worker_ = worker;
    }
    QObject* worker = worker_.data();
    QMetaObject::invokeMethod(
        worker,
        [worker, path] {
            // Made here, so that the player and its pipeline belong to the sound thread.
            auto* media = worker->findChild<QMediaPlayer*>();
            if (media == nullptr) {
                media = new QMediaPlayer(worker);
                media->setAudioOutput(new QAudioOutput(media));
            }
            media->stop();
            media->setSource(QUrl::fromLocalFile(path));
            media->play();
        },
        Qt::QueuedConnection);
#else
    Q_UNUSED(path);
#endif
}
