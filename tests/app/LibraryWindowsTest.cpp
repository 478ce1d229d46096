// The library window with the pet and packer windows it opens.
#include "app/FrmMain.h"
#include "package/PackageCache.h"
#include "packer/FrmPackerFixture.h"
#include "player/FrmPlayFixture.h"

#include <QFileInfo>

TEST_F(FrmPackerTest, LibraryOpensThePackerAndWaitsForItsAnswerBeforeEnding)
{
    window_->hide();
    TFrmMain main(prompts_, Path(QStringLiteral("Zuvora.Dat")));
    main.SetPacker(window_.get());
    main.show();
    main.OnPackerClicked();
    EXPECT_TRUE(window_->isVisible());
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    prompts_.saveChoices = {Prompts::SaveChoice::Cancel};
    EXPECT_FALSE(main.close());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("Zuvora.Dat"))));
    prompts_.saveChoices = {Prompts::SaveChoice::Discard};
    EXPECT_TRUE(main.close());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("Zuvora.Dat"))));
}

TEST_F(FrmPlayTest, LibraryPlaySwitchesAShowingPetToTheNewPackage)
{
    const QString first = MakePackage(QStringLiteral("first.zvk"), Manifest({"One", "Two"}), MakeSheet());
    const QString second = MakePackage(QStringLiteral("second.zvk"), Manifest({"Three"}), MakeSheet());
    TFrmMain library(prompts_, Path(QStringLiteral("Zuvora.Dat")));
    library.SetPlayer(herd_.get());
    library.show();
    prompts_.openFilesAnswers.append({first, second});
    library.OnAddClicked();

    library.SelectRow(0);
    library.OnPlayClicked();
    ASSERT_TRUE(QTest::qWaitFor([this] { return player_->isVisible(); }, 2000));
    EXPECT_EQ(ActionItems().size(), 2);
    ASSERT_TRUE(WaitForFrame());

    library.SelectRow(1);
    library.OnPlayClicked();
    EXPECT_FALSE(player_->isVisible());  // closed at once, shown again after the pause
    ASSERT_TRUE(QTest::qWaitFor([this] { return player_->isVisible(); }, 2000));
    EXPECT_EQ(MenuTexts().mid(7), QStringList{"Three"});

    // Closing the library closes the pet first.
    library.close();
    EXPECT_FALSE(player_->isVisible());
    EXPECT_FALSE(player_->Controller().PlaybackStarted());
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(FrmPlayTest, APackageThatLeavesTheLibraryTakesItsCacheAlong)
{
    const QString a = MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), MakeSheet());
    const QString b = MakePackage(QStringLiteral("b.zvk"), Manifest({"B"}), MakeSheet());
    const QString c = MakePackage(QStringLiteral("c.zvk"), Manifest({"C"}), MakeSheet());
    for (const QString& package : {a, b, c})
        PrepareCache(package, prompts_);
    const auto cached = [](const QString& package) {
        PackageShelf().WaitForLoader();
        return QFileInfo::exists(QDir(CacheRoot()).filePath(PathDigest(package)));
    };
    TFrmMain library(prompts_, Path(QStringLiteral("Zuvora.Dat")));
    library.show();
    prompts_.openFilesAnswers.append({a, a, b, c});
    library.OnAddClicked();
    library.SelectRow(0);
    library.OnDeleteClicked();
    EXPECT_TRUE(cached(a));  // listed still
    library.SelectRow(0);
    library.OnDeleteClicked();
    EXPECT_FALSE(cached(a));
    library.OnClearClicked();
    EXPECT_FALSE(cached(b));
    EXPECT_FALSE(cached(c));
    EXPECT_TRUE(prompts_.messages.isEmpty());
}
