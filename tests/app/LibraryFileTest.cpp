#include "LibraryRows.h"
#include "app/LibraryFile.h"
#include "app/LibraryEditor.h"
#include "common/Error.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>


class LibraryFileTest : public TempDirTest {
protected:
    QString Library() const { return Path(QStringLiteral("bin/Zuvora.Dat")); }

    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(QDir(temp_.path()).mkpath(QStringLiteral("bin")));
    }

    QList<TLibraryRow> ReadText(const QByteArray& text)
    {
        WriteAll(Library(), text);
        return LibraryRows(Library());
    }
};

TEST_F(LibraryFileTest, RoundTripKeepsOrderDuplicatesAndNames)
{
    const QList<TLibraryRow> rows = {
        {QStringLiteral("cat.zvk"), Path(QStringLiteral("bin/cat.zvk"))},
        {QStringLiteral("dog.zvk"), Path(QStringLiteral("pets/dog.zvk"))},
        {QStringLiteral("cat.zvk"), Path(QStringLiteral("bin/cat.zvk"))},
        {QStringLiteral("\u732b \u00e9t\u00e9.zvk"), Path(QStringLiteral("bin/deep/er/\u732b \u00e9t\u00e9.zvk"))},
        {QStringLiteral("far.zvk"), QStringLiteral("/far.zvk")},
    };
    WriteLibrary(Library(), rows);
    EXPECT_EQ(LibraryRows(Library()), rows);
}

TEST_F(LibraryFileTest, StoresPathsRelativeToItsFolderInTheExactFormat)
{
    WriteLibrary(Library(), {{QStringLiteral("cat.zvk"), Path(QStringLiteral("bin/cat.zvk"))},
                             {QStringLiteral("dog.zvk"), Path(QStringLiteral("pets/dog.zvk"))},
                             {QString(), QString()}});
    EXPECT_EQ(ReadAll(Library()),
              QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Zuvora Version=\"1.0.0\">"
                         "<Zvk>cat.zvk</Zvk><Zvk>..\\pets\\dog.zvk</Zvk><Zvk/></Zuvora>"));
}

TEST_F(LibraryFileTest, EmptyListWritesABareRoot)
{
    WriteLibrary(Library(), {});
    EXPECT_EQ(ReadAll(Library()), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Zuvora Version=\"1.0.0\"/>"));
    EXPECT_TRUE(LibraryRows(Library()).isEmpty());
}

TEST_F(LibraryFileTest, MissingFileGivesNoRows)
{
    EXPECT_TRUE(LibraryRows(Path(QStringLiteral("bin/absent.Dat"))).isEmpty());
}

TEST_F(LibraryFileTest, ReadsAnyNamesSkipsEmptyEntriesAndAcceptsOtherWriters)
{
    const QList<TLibraryRow> rows = ReadText(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<Library Version=\"9\">\r\n"
        "  <Zvk>a.zvk</Zvk>\r\n"
        "  <Zvk></Zvk>\r\n"
        "  <Zvk/>\r\n"
        "  <Pet>..\\pets\\b.zvk</Pet>\r\n"
        "  <Zvk>sub/c.zvk</Zvk>\r\n"
        "  <Zvk>/abs/d.zvk</Zvk>\r\n"
        "  <Zvk>C:\\Pets\\e.zvk</Zvk>\r\n"
        "</Library>\r\n");
    const QList<TLibraryRow> expected = {
        {QStringLiteral("a.zvk"), Path(QStringLiteral("bin/a.zvk"))},
        {QStringLiteral("b.zvk"), Path(QStringLiteral("pets/b.zvk"))},
        {QStringLiteral("c.zvk"), Path(QStringLiteral("bin/sub/c.zvk"))},
        {QStringLiteral("d.zvk"), QStringLiteral("/abs/d.zvk")},
        {QStringLiteral("e.zvk"), QStringLiteral("/Pets/e.zvk")},
    };
    EXPECT_EQ(rows, expected);
}

TEST_F(LibraryFileTest, FirstErrorEndsReadingAndKeepsEarlierRows)
{
    // An entry holding an element is an error: the rows before it stay, none after.
    EXPECT_EQ(ReadText("<Zuvora><Zvk>a.zvk</Zvk><Zvk><x/></Zvk><Zvk>b.zvk</Zvk></Zuvora>"),
              (QList<TLibraryRow>{{QStringLiteral("a.zvk"), Path(QStringLiteral("bin/a.zvk"))}}));
    // Malformed XML is not parsed at all.
    EXPECT_TRUE(ReadText("<Zuvora><Zvk>a.zvk</Zvk><Zvk>b.zvk</Zuvora>").isEmpty());
    EXPECT_TRUE(ReadText("not xml at all").isEmpty());
    EXPECT_TRUE(ReadText(QByteArray(3000, '\xff')).isEmpty());
}

TEST_F(LibraryFileTest, FailedSaveLeavesTheOldFileIntactAndRaises)
{
    const QList<TLibraryRow> old = {{QStringLiteral("old.zvk"), Path(QStringLiteral("bin/old.zvk"))}};
    WriteLibrary(Library(), old);
    const QByteArray before = ReadAll(Library());

    QList<TLibraryRow> many;
    for (int i = 0; i < 200; ++i)
        many.append({QStringLiteral("pet%1.zvk").arg(i), Path(QStringLiteral("bin/pet%1.zvk").arg(i))});

    bool raised = false;
    {
        const FileSizeLimit limit(512);
        ASSERT_TRUE(limit.Active());
        try {
            WriteLibrary(Library(), many);
        } catch (const TError& error) {
            raised = true;
            EXPECT_FALSE(error.Text().isEmpty());
        }
    }

    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadAll(Library()), before);
    EXPECT_EQ(QDir(Path(QStringLiteral("bin"))).entryList(QDir::Files), QStringList{QStringLiteral("Zuvora.Dat")});
}

TEST_F(LibraryFileTest, TheLibraryLivesBesideTheProgramWhereThatCanBeWritten)
{
    const QString program = Path(QStringLiteral("bin"));
    QDir().mkpath(program);
    const QString appData = Path(QStringLiteral("data"));
    EXPECT_EQ(LibraryFilePath(program, appData), program + QStringLiteral("/Zuvora.Dat"));
    // An installed program's folder cannot be written (here: it is not there at all).
    const QString installed = Path(QStringLiteral("usr/bin"));
    const QString own = LibraryFilePath(installed, appData);
    EXPECT_EQ(own, appData + QStringLiteral("/Zuvora/Zuvora.Dat"));
    EXPECT_TRUE(QFileInfo(appData + QStringLiteral("/Zuvora")).isDir());
    WriteLibrary(own, {{QStringLiteral("cat.zvk"), appData + QStringLiteral("/cat.zvk")}});
    EXPECT_TRUE(ReadAll(own).contains("<Zvk>..\\cat.zvk</Zvk>"));
}

TEST_F(LibraryFileTest, TheEditorKeepsADamagedFileAsideAndNamesWhatItCannotDo)
{
    const QByteArray damaged = "<Zuvora><Zvk>a.zvk</Zvk><Zvk><x/></Zvk></Zuvora>";
    WriteAll(Library(), damaged);
    ScriptedPrompts prompts;
    TLibraryEditor editor(prompts, Library());
    editor.Load();
    ASSERT_EQ(editor.Model().rowCount(), 1);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].kind, QStringLiteral("Warning"));

    // A path the file would bring back as another is left out, and said.
    const QString kept = Path(QStringLiteral("bin/b.zvk"));
    const QString odd = Path(QStringLiteral("bin/tab\t.zvk"));
    editor.AppendPackages({kept, odd});
    EXPECT_EQ(editor.Model().Paths(), (QStringList{Path(QStringLiteral("bin/a.zvk")), kept}));
    EXPECT_TRUE(prompts.messages.last().text.endsWith(u'\n' + odd));

    EXPECT_EQ(editor.ExistingPath(1), QString());
    EXPECT_EQ(prompts.messages.last().text, kept + QStringLiteral(" does not exist!"));
    WriteAll(kept, "PK");
    EXPECT_EQ(editor.ExistingPath(1), kept);

    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(ReadAll(Library() + QStringLiteral(".bak")), damaged);
    EXPECT_EQ(LibraryRows(Library()), editor.Model().Rows());
}

// The three places, in scratch folders: a build folder, an installed prefix the user can
// write to (~/.local), and that prefix with a library already beside the program.
TEST_F(LibraryFileTest, AnInstalledProgramKeepsItsLibraryWithTheUsersData)
{
    const QString data = Path(QStringLiteral("home/.local/share"));
    const QString build = Path(QStringLiteral("build/default/bin"));
    const QString prefix = Path(QStringLiteral("home/.local"));
    for (const QString& folder : {build, prefix + QStringLiteral("/bin"), prefix + QStringLiteral("/share/zuvora")})
        ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(LibraryFilePath(build, data), build + QStringLiteral("/Zuvora.Dat"));
    EXPECT_EQ(LibraryFilePath(prefix + QStringLiteral("/bin"), data), data + QStringLiteral("/Zuvora/Zuvora.Dat"));
    WriteAll(prefix + QStringLiteral("/bin/Zuvora.Dat"), "<Zuvora Version=\"1.0.0\"/>");
    EXPECT_EQ(LibraryFilePath(prefix + QStringLiteral("/bin"), data), prefix + QStringLiteral("/bin/Zuvora.Dat"));
}

// Every library file the fuzz target found a fault with reads again within bounds.
TEST(FuzzRegressions, LibraryEntriesThatNameNoFileAreNotRows)
{
    const QStringList files = FuzzFindings(QStringLiteral("library"));
    ASSERT_FALSE(files.isEmpty());
    for (const QString& file : files) {
        QList<TLibraryRow> rows;
        EXPECT_TRUE(ReadLibrary(file, rows).has_value()) << file.toStdString();
        for (const TLibraryRow& row : rows)
            EXPECT_FALSE(row.Path.isEmpty()) << file.toStdString();
    }
}
