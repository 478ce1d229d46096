#include "app/AppIcon.h"
#include "app/Autostart.h"
#include "app/CommandLine.h"
#include "app/PetTray.h"
#include "app/FrmMain.h"
#include "app/QtPrompts.h"
#include "player/PetHerd.h"
#include "player/PetMemory.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QTimer>
#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIcon>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace {

// The program and arguments a launcher runs for the entry's Exec line, read as the desktop
// entry rules have it: the string's escapes first, then the quoting, then the field codes, of
// which only "%%" may occur here. Nothing for a line those rules refuse.
std::optional<QStringList> ExecArguments(const QByteArray& entry)
{
    const qsizetype start = entry.indexOf("\nExec=") + 6;
    const QString value = QString::fromUtf8(entry.mid(start, entry.indexOf('\n', start) - start));
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i].category() == QChar::Other_Control)
            return std::nullopt;
        if (value[i] != u'\\') {
            text += value[i];
            continue;
        }
        static const QHash<QChar, QChar> escapes{{u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
        if (++i == value.size() || !escapes.contains(value[i]))
            return std::nullopt;
        text += escapes[value[i]];
    }
    QStringList arguments;
    std::optional<QString> argument;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == u'\\') {
            if (++i == text.size() || !QStringLiteral("\"`$\\").contains(text[i]))
                return std::nullopt;
            *argument += text[i];
        } else if (c == u'"') {
            quoted = !quoted;
            argument = argument.value_or(QString());
        } else if (!quoted && c == u' ') {
            if (argument)
                arguments.append(*std::exchange(argument, std::nullopt));
        } else if (!quoted && QStringLiteral("\t\n'><~|&;$*?#()`").contains(c)) {
            return std::nullopt;
        } else {
            argument = argument.value_or(QString()) + c;
        }
    }
    if (quoted)
        return std::nullopt;
    if (argument)
        arguments.append(*argument);
    for (QString& each : arguments) {
        for (qsizetype at = each.indexOf(u'%'); at >= 0; at = each.indexOf(u'%', at + 1)) {
            if (at + 1 == each.size() || each[at + 1] != u'%')
                return std::nullopt;
            each.remove(at, 1);
        }
    }
    return arguments;
}

}  // namespace

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
    EXPECT_EQ(ExecArguments(ReadAll(entry)), QStringList({QCoreApplication::applicationFilePath(), QStringLiteral("--restore")}));

    library.StartWithDesktopItem()->trigger();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(library.StartWithDesktopItem()->isChecked());
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(CompanionTest, TheEntryStartsTheProgramWhateverItsPathHoldsOrSaysWhyItCannot)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate (Debian's desktop-file-utils) is needed";
    for (const QString& program :
         {QStringLiteral("/opt/real%f/zuvora"), QStringLiteral("/opt/100%%/zuvora"), QStringLiteral("/opt/my pets/zu$vora"),
          QStringLiteral("/opt/a\tb/zuvora"), QStringLiteral("/opt/back\\slash/`q`/\"zu'vora\""),
          QStringLiteral("/home/jos\u00e9/~/#1 (x);|&<>*?/zuvora")}) {
        ASSERT_EQ(SetStartWithDesktop(true, program), std::nullopt);
        const QByteArray entry = ReadAll(AutostartFilePath());
        EXPECT_EQ(ExecArguments(entry), QStringList({program, QStringLiteral("--restore")})) << entry.toStdString();
        EXPECT_EQ(entry.count('\n'), 8) << entry.toStdString();
        QProcess check;
        check.start(validator, {AutostartFilePath()});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
    }

    // A line break would end the line and start keys of its own.
    ASSERT_TRUE(QFile::remove(AutostartFilePath()));
    const struct {
        QString program;
        const char* holds;
    } refused[] = {
        {QStringLiteral("/opt/a\nHidden=true\nExec=/bin/other/zuvora"), "a line break"},
        {QStringLiteral("/opt/a\rb/zuvora"), "a line break"},
        {QStringLiteral("/opt/a\x01/zuvora"), "a control character"},
        {QStringLiteral("/opt/a=b/zuvora"), "\"=\""},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(SetStartWithDesktop(true, c.program),
                  QStringLiteral("Zuvora cannot start with the desktop from \"%1\": its path holds %2.").arg(c.program, QLatin1String(c.holds)));
        EXPECT_FALSE(StartsWithDesktop());
    }
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
    EXPECT_EQ(Texts(tray.Menu()),
              (QStringList{"Show Library", "", "Hide All Pets", "Hold Pets Still", "Stay Above Fullscreen Windows",
                           "Start with the Desktop", "", "Quit"}));
    EXPECT_FALSE(tray.Menu().actions()[2]->isEnabled());

    ASSERT_TRUE(pets.PlayAlongside(cat));
    ASSERT_TRUE(pets.PlayAlongside(dog));
    // Each pet is seen once its package has loaded.
    for (TFrmPlay* pet : pets.Pets())
        ASSERT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 5000));
    tray.Fill();
    EXPECT_EQ(Texts(tray.Menu()),
              (QStringList{"Show Library", "", "Cat", "Dog", "", "Hide All Pets", "Hold Pets Still",
                           "Stay Above Fullscreen Windows", "Start with the Desktop", "", "Quit"}));
    QMenu* dogMenu = tray.Menu().actions()[3]->menu();
    ASSERT_NE(dogMenu, nullptr);
    EXPECT_EQ(Texts(*dogMenu), (QStringList{"Show", "Close"}));

    tray.Menu().actions()[5]->trigger();
    for (TFrmPlay* pet : pets.Pets()) {
        EXPECT_FALSE(pet->isVisible());
        EXPECT_TRUE(pet->Controller().Resting());
    }
    tray.Fill();
    EXPECT_EQ(tray.Menu().actions()[5]->text(), QStringLiteral("Show All Pets"));
    tray.Menu().actions()[5]->trigger();
    EXPECT_TRUE(pets.Pets().at(0)->isVisible());
    // Holding the pets still is kept, and the library's menu shows it.
    tray.Menu().actions()[6]->trigger();
    EXPECT_TRUE(PetsHeldStill());
    QMenu* listMenu = library.findChild<QMenu*>(QStringLiteral("pmList"));
    emit listMenu->aboutToShow();
    EXPECT_TRUE(library.findChild<QAction*>(QStringLiteral("miHoldPetsStill"))->isChecked());

    dogMenu = (tray.Fill(), tray.Menu().actions()[3]->menu());
    dogMenu->actions()[1]->trigger();
    ASSERT_EQ(pets.Pets().size(), 1);
    EXPECT_EQ(pets.Pets().at(0)->windowTitle(), QStringLiteral("Cat"));
    pets.CloseAll();
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

// A program copied away from its prefix, with no icon theme that knows it, still shows
// Pip's face (in the tray too): the copy built into the program.
TEST(AppIconTest, AProgramCopiedAwayFromItsPrefixStillHasPipsFace)
{
    const QStringList themes = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths({});
    QTemporaryDir copiedTo;
    const QIcon icon = ZuvoraIcon(copiedTo.path());
    QIcon::setThemeSearchPaths(themes);
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}

// Options are options, never library rows: help and version end the program at once, an
// option it does not take is an error (exit 2), and files are taken as given.
TEST(CommandLineTest, OptionsAreReadAndFilesTakenAsGiven)
{
    const struct {
        QStringList arguments;
        bool unknownAllowed;
        std::optional<int> exitCode;
        QString outputStart;
        bool restore;
        QStringList files;
    } cases[] = {
        {{"--help"}, false, 0, "Usage: ", false, {}},
        {{"-h", "a.zvk"}, false, 0, "Usage:", false, {}},
        {{"--version"}, false, 0, "zuvora 1.0\n", false, {}},
        {{"--bogus", "a.zvk"}, false, 2, "zuvora: Unknown option 'bogus'.", false, {}},
        // Before Qt has taken its own options, those are let through, and help still answers.
        {{"-style", "fusion", "a.zvk"}, true, std::nullopt, "", false, {}},
        {{"-style", "fusion", "--help"}, true, 0, "Usage: ", false, {}},
        {{"--restore", "a.zvk", "b c.zvp"}, false, std::nullopt, "", true, {"a.zvk", "b c.zvp"}},
        {{"--", "--help"}, false, std::nullopt, "", false, {"--help"}},
    };
    for (const auto& c : cases) {
        const TCommandLine read = ReadCommandLine(QStringList{"zuvora"} + c.arguments, c.unknownAllowed);
        const std::string name = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(read.ExitCode, c.exitCode) << name;
        if (c.outputStart.isEmpty())
            EXPECT_TRUE(read.Output.isEmpty()) << name << ": " << read.Output.toStdString();
        else
            EXPECT_TRUE(read.Output.startsWith(c.outputStart)) << name << ": " << read.Output.toStdString();
        EXPECT_EQ(read.Restore, c.restore) << name;
        EXPECT_EQ(read.Files, c.files) << name;
    }
}

// A box or a file dialog over a window blocks that window only: pets and the other windows
// go on taking the mouse.
TEST(QtPromptsTest, BoxesAndFileDialogsBlockOnlyTheirWindow)
{
    QWidget window;
    window.show();
    QtPrompts prompts;
    prompts.SetParent(&window);
    QList<Qt::WindowModality> seen;
    const auto closeWhenShown = [&seen] {
        QTimer::singleShot(100, [&seen] {
            if (QWidget* shown = QApplication::activeModalWidget()) {
                seen.append(shown->windowModality());
                shown->close();
            }
        });
    };
    closeWhenShown();
    prompts.Error(QStringLiteral("a box"));
    closeWhenShown();
    EXPECT_TRUE(prompts.OpenFile(QStringLiteral("All|*")).isEmpty());
    closeWhenShown();
    EXPECT_TRUE(prompts.SaveFile(QStringLiteral("All|*"), QStringLiteral("x.zvp")).isEmpty());
    EXPECT_EQ(seen, (QList<Qt::WindowModality>{Qt::WindowModal, Qt::WindowModal, Qt::WindowModal}));
}
