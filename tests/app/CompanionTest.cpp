#include "app/Autostart.h"
#include "app/PetTray.h"
#include "app/TFrmMain.h"
#include "player/PetHerd.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

class CompanionTest : public TempDirTest {
protected:
    QStringList Texts(const QMenu& menu) const
    {
        QStringList texts;
        for (const QAction* item : menu.actions())
            texts.append(item->text());
        return texts;
    }

    ScriptedPrompts prompts_;
};

TEST_F(CompanionTest, StartWithTheDesktopWritesAValidEntryAndRemovesIt)
{
    TFrmMain library(prompts_, Path(QStringLiteral("Zuvora.Dat")));
    const QString entry = Path(QStringLiteral("autostart/org.zuvora.zuvora.desktop"));
    EXPECT_EQ(AutostartFilePath(), entry);
    EXPECT_FALSE(StartsWithDesktop());

    library.StartWithDesktopItem()->trigger();
    ASSERT_TRUE(StartsWithDesktop());
    EXPECT_TRUE(library.StartWithDesktopItem()->isChecked());
    // A path with a space and a dollar, quoted as the desktop entry specification says.
    const QString program = QStringLiteral("/opt/my pets/zu$vora");
    ASSERT_EQ(SetStartWithDesktop(true, program), std::nullopt);
    EXPECT_TRUE(ReadAll(entry).contains("\nExec=\"/opt/my pets/zu\\\\$vora\" --restore\n"));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess check;
        check.start(validator, {entry});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
        EXPECT_TRUE(check.readAllStandardOutput().trimmed().isEmpty());
    }

    library.StartWithDesktopItem()->trigger();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(library.StartWithDesktopItem()->isChecked());
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(CompanionTest, TheTrayMenuNamesEveryPetAndHidesThemAll)
{
    const QString cat = Path(QStringLiteral("Cat.zvk"));
    const QString dog = Path(QStringLiteral("Dog.zvk"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZUVORA_SAMPLE_PET), cat));
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZUVORA_SAMPLE_PET), dog));
    TFrmMain library(prompts_, Path(QStringLiteral("Zuvora.Dat")));
    TPetHerd pets(prompts_);
    TPetTray tray(library, pets);
    EXPECT_EQ(Texts(tray.Menu()), (QStringList{"Show Library", "", "Hide All Pets", "Start with the Desktop", "", "Quit"}));
    EXPECT_FALSE(tray.Menu().actions()[2]->isEnabled());

    ASSERT_TRUE(pets.PlayAlongside(cat));
    ASSERT_TRUE(pets.PlayAlongside(dog));
    // Each pet is seen once its package has loaded.
    for (TFrmPlay* pet : pets.Pets())
        ASSERT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 5000));
    tray.Fill();
    EXPECT_EQ(Texts(tray.Menu()),
              (QStringList{"Show Library", "", "Cat", "Dog", "", "Hide All Pets", "Start with the Desktop", "", "Quit"}));
    QMenu* dogMenu = tray.Menu().actions()[3]->menu();
    ASSERT_NE(dogMenu, nullptr);
    EXPECT_EQ(Texts(*dogMenu), (QStringList{"Show", "Close"}));

    tray.Menu().actions()[5]->trigger();
    for (TFrmPlay* pet : pets.Pets()) {
        EXPECT_FALSE(pet->isVisible());
        EXPECT_TRUE(pet->State().Hidden);
    }
    tray.Fill();
    EXPECT_EQ(tray.Menu().actions()[5]->text(), QStringLiteral("Show All Pets"));
    tray.Menu().actions()[5]->trigger();
    EXPECT_TRUE(pets.Pets().at(0)->isVisible());

    dogMenu = (tray.Fill(), tray.Menu().actions()[3]->menu());
    dogMenu->actions()[1]->trigger();
    ASSERT_EQ(pets.Pets().size(), 1);
    EXPECT_EQ(pets.Pets().at(0)->windowTitle(), QStringLiteral("Cat"));
    pets.CloseAll();
    EXPECT_TRUE(prompts_.messages.isEmpty());
}
