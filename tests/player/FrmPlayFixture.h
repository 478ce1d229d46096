#pragma once

#include "archive/ZipWriter.h"
#include "common/Settings.h"
#include "package/SpriteSheet.h"
#include "player/FrmPlay.h"
#include "player/PackageShelf.h"
#include "player/PetHerd.h"
#include "player/PlaybackEngine.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTest>

#include <memory>
#include <optional>

// A sheet of three 16 by 24 frames stacked, each frame a distinct pattern with white
// pixels in it, and one 32 wide frame below them.
inline QImage MakeSheet()
{
    QImage sheet(32, 3 * 24 + 20, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    for (int f = 0; f < 3; ++f) {
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 16; ++x) {
                if ((x + y) % 5 != 0)
                    sheet.setPixel(x, f * 24 + y, qRgb(80 * f + x * 5, y * 10, 200 - f * 60));
            }
        }
    }
    for (int y = 72; y < 92; ++y)
        for (int x = 0; x < 32; ++x)
            sheet.setPixel(x, y, qRgb(x * 8, 255 - y, 7));
    return sheet;
}

inline QByteArray Manifest(const QStringList& names, bool withFrames = true)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">";
    int index = 0;
    for (const QString& name : names) {
        text += "<Action><Name>" + name.toUtf8() + "</Name><ActionFragment>";
        for (int f = 0; withFrames && f < 2; ++f, ++index) {
            const int frame = index % 3;
            text += QStringLiteral("<Fragment><Index>%1</Index><Top>%2</Top><Left>0</Left><Width>16</Width>"
                                   "<Height>24</Height></Fragment>")
                        .arg(index)
                        .arg(frame * 24)
                        .toUtf8();
        }
        text += "</ActionFragment><ActionAudio/></Action>";
    }
    return text + "</ZuvoProject>";
}

// Play's pet in a herd of its own, on a desktop the test may change.
class FrmPlayTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        // The window as designed; the see-through tests turn it on.
        SetTransparentPet(false);
        desktop_.areas = TScreensDesktop().WorkAreas();
        herd_ = std::make_unique<TPetHerd>(prompts_, &desktop_);
        player_ = &herd_->PlayPet();
    }

    void TearDown() override
    {
        herd_.reset();
        // Nothing of this test's loads may reach the next one.
        PackageShelf().WaitForLoader();
        QCoreApplication::processEvents();
        TempDirTest::TearDown();
    }

    // Packs a package with our archive writer. `sheet`: an image, raw bytes, or nothing.
    QString MakePackage(const QString& name, const QByteArray& manifest, const std::optional<QImage>& sheet,
                        const QByteArray& rawSheet = {})
    {
        QDir work(Path(name + QStringLiteral(".work")));
        work.mkpath(QStringLiteral("."));
        WriteAll(work.filePath(QStringLiteral("zvk.xml")), manifest);
        if (sheet)
            SaveSpriteSheet(*sheet, work.filePath(QStringLiteral("zvk.png")));
        else if (!rawSheet.isNull())
            WriteAll(work.filePath(QStringLiteral("zvk.png")), rawSheet);
        TZipWriter writer;
        writer.ZipName = Path(name);
        writer.FilesList = {work.filePath(QStringLiteral("*.*"))};
        writer.WriteArchive();
        return Path(name);
    }

    // Shows Play's pet and waits until its package has loaded and its first frame shows.
    void Show(const QString& package)
    {
        player_->Controller().SetPackagePath(package);
        player_->ShowPlayer();
        EXPECT_TRUE(QTest::qWaitFor([this] { return player_->isVisible(); }, 5000)) << package.toStdString();
    }

    // The same, with its playback stopped, so the test's own frames stay on the window.
    void ShowStill(const QString& package)
    {
        Show(package);
        StopPlayback(player_->Controller().State());
    }

    QStringList MenuTexts() const
    {
        QStringList texts;
        for (QAction* item : player_->PopupMenu()->actions())
            texts.append(item->isSeparator() ? QStringLiteral("-") : item->text());
        return texts;
    }

    QList<QAction*> ActionItems() const { return player_->PopupMenu()->actions().mid(7); }
    // The actions whose items are checked.
    QList<int> CheckedActions() const
    {
        QList<int> checked;
        for (QAction* item : ActionItems()) {
            if (item->isChecked())
                checked.append(item->data().toInt());
        }
        return checked;
    }

    QAction* Item(const QString& name) const { return player_->findChild<QAction*>(name); }

    // Shows the sheet's rectangle as the engine's step does.
    void SendFrame(int left, int top, int width, int height)
    {
        player_->Controller().ShowFrame(TFrame{0, top, left, height, width}, 0);
    }

    // Waits until the clock has stepped to a frame of its own.
    bool WaitForFrame() { return QTest::qWaitFor([this] { return !player_->Controller().CurrentFrame().isNull(); }, 3000); }

    ScriptedPrompts prompts_;
    // The screen the offscreen platform has, until a test changes it.
    struct FakeDesktop : TDesktop {
        QList<QRect> areas;
        QList<QRect> WorkAreas() const override { return areas; }
        QRect WorkAreaAt(QPoint point) const override
        {
            for (const QRect& area : areas) {
                if (area.contains(point))
                    return area;
            }
            return areas.value(0);
        }
    } desktop_;
    std::unique_ptr<TPetHerd> herd_;
    TFrmPlay* player_ = nullptr;  // Play's pet
};
