#include "archive/DosTime.h"
#include "archive/ZipExtractor.h"
#include "archive/ZipError.h"
#include "archive/ZipBuilder.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>

using namespace ziptest;

namespace {

constexpr std::uint16_t kUnixHost = 3 << 8 | 30;

// Deterministic bytes that deflate does not shrink much.
QByteArray Noise(int size, std::uint32_t seed = 1)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

QString ErrorOf(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const TZipError& error) {
        return error.Text();
    }
    return QStringLiteral("(no error)");
}

void SetModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite)) << path.toStdString();
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
}

bool HasWritePermission(const QString& path)
{
    return QFile::permissions(path) & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther);
}

class ZipExtractorTest : public TempDirTest {
protected:
    QString Archive(const QByteArray& bytes, const QString& name = QStringLiteral("test.zvk"))
    {
        const QString path = Path(name);
        WriteAll(path, bytes);
        // ZUVORA_SEED_FOLDER=DIR keeps every archive the tests craft there, to seed the fuzzer.
        const QString seeds = qEnvironmentVariable("ZUVORA_SEED_FOLDER");
        if (!seeds.isEmpty() && bytes.size() <= (1 << 20)) {
            const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
            WriteAll(QDir(seeds).filePath(QStringLiteral("%1_%2").arg(QString::fromLatin1(test->name())).arg(++seeded_)), bytes);
        }
        return path;
    }
    QString OutDir() const { return Path(QStringLiteral("out")); }
    QString Out(const QString& relative) const { return OutDir() + u'/' + relative; }

    // The settings with which the player fills its cache.
    void AsPlayer(TZipExtractor& extractor, const QString& zip)
    {
        extractor.ZipName = zip;
        extractor.ReadDirectory();
        extractor.FilesList = QStringList{QStringLiteral("*.*")};
        extractor.DoAll = false;
        extractor.DestDir = OutDir() + u'/';
        extractor.OverwriteMode = TOverwriteMode::ifNewer;
        extractor.RecreateDirs = true;
        extractor.UserPrompts = &prompts_;
    }

    int ExtractAll(const QByteArray& bytes, TOverwriteMode mode = TOverwriteMode::Always)
    {
        TZipExtractor extractor;
        extractor.ZipName = Archive(bytes);
        extractor.ReadDirectory();
        extractor.DoAll = true;
        extractor.RecreateDirs = true;
        extractor.DestDir = OutDir();
        extractor.OverwriteMode = mode;
        extractor.UserPrompts = &prompts_;
        return extractor.ExtractSelected();
    }

    // Everything below `folder`, relative, sorted; folders end in "/". Links are listed,
    // never followed.
    static QStringList Tree(const QString& folder)
    {
        QStringList names;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            QString name = QDir(folder).relativeFilePath(info.filePath());
            if (info.isDir() && !info.isSymLink())
                name += u'/';
            names.append(name);
        }
        names.sort();
        return names;
    }

    ScriptedPrompts prompts_;
    int seeded_ = 0;
};

// ---- reading the directory ---------------------------------------------------------------

TEST_F(ZipExtractorTest, ReadsEveryCentralDirectoryField)
{
    ZipBuilder builder;
    ZipMember cat;
    cat.name = "pets/cat.png";
    cat.data = Noise(3000);
    cat.method = 8;
    cat.time = DosTime(5, 6, 8);
    cat.date = DosDate(2019, 3, 4);
    cat.externalAttributes = 0x21;
    builder.Add(cat).Add("README", "read me");
    const QByteArray bytes = builder.Build();

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    extractor.ReadDirectory();
    const auto& entries = extractor.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].FolderPart, QStringLiteral("pets\\"));
    EXPECT_EQ(entries[0].FileName, QStringLiteral("cat.png"));
    EXPECT_EQ(entries[0].Method, 8);
    EXPECT_EQ(entries[0].VersionMadeBy, 20);
    EXPECT_EQ(entries[0].DosTime, DosTime(5, 6, 8));
    EXPECT_EQ(entries[0].DosDate, DosDate(2019, 3, 4));
    EXPECT_EQ(entries[0].Crc32, Crc32(cat.data));
    EXPECT_EQ(entries[0].CompressedSize, static_cast<std::uint64_t>(RawDeflate(cat.data).size()));
    EXPECT_EQ(entries[0].UncompressedSize, 3000u);
    EXPECT_EQ(entries[0].ExternalAttributes, 0x21u);
    EXPECT_EQ(entries[0].LocalHeaderOffset, 0u);
    EXPECT_EQ(entries[1].FolderPart, QString());
    EXPECT_EQ(entries[1].FileName, QStringLiteral("README"));
    EXPECT_EQ(entries[1].LocalHeaderOffset, builder.LocalOffsets()[1]);
}

TEST_F(ZipExtractorTest, NamesAreCodePage437UnlessFlaggedUtf8)
{
    ZipBuilder builder;
    builder.Add("caf\x82\\\xe1\xa4\xc9.txt", "dos");  // café\ßñ╔.txt in code page 437
    ZipMember utf8;
    utf8.name = "\xe7\x8c\xab/\xc3\xa9t\xc3\xa9.txt";  // 猫/été.txt
    utf8.data = "utf8";
    utf8.flags = 0x0800;
    builder.Add(utf8);
    ZipMember unflagged;
    unflagged.name = "\xc3\xa9.txt";  // UTF-8 bytes without the flag read as code page 437
    unflagged.data = "oem";
    builder.Add(unflagged);
    const QByteArray bytes = builder.Build();

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    extractor.ReadDirectory();
    ASSERT_EQ(extractor.Entries().size(), 3u);
    EXPECT_EQ(extractor.Entries()[0].FolderPart, QStringLiteral("caf\u00e9\\"));
    EXPECT_EQ(extractor.Entries()[0].FileName, QStringLiteral("\u00df\u00f1\u2554.txt"));
    EXPECT_EQ(extractor.Entries()[1].FolderPart, QStringLiteral("\u732b\\"));
    EXPECT_EQ(extractor.Entries()[1].FileName, QStringLiteral("\u00e9t\u00e9.txt"));
    EXPECT_EQ(extractor.Entries()[2].FileName, QStringLiteral("\u251c\u2310.txt"));

    EXPECT_EQ(ExtractAll(bytes), 3);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("caf\u00e9/\u00df\u00f1\u2554.txt"))), QByteArray("dos"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("\u732b/\u00e9t\u00e9.txt"))), QByteArray("utf8"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("\u251c\u2310.txt"))), QByteArray("oem"));
}

TEST_F(ZipExtractorTest, EmptyFileIsAnArchiveWithoutEntries)
{
    TZipExtractor extractor;
    AsPlayer(extractor, Archive(QByteArray()));
    EXPECT_TRUE(extractor.Entries().empty());
    EXPECT_EQ(extractor.ExtractSelected(), 0);
    EXPECT_TRUE(Tree(OutDir()).isEmpty());
}

TEST_F(ZipExtractorTest, ShortFilesAndNonArchivesAreIncomplete)
{
    QList<QByteArray> inputs = {QByteArray("P"), QByteArray(21, 'x'),
                                QByteArray("PK\x05\x06", 4) + QByteArray(17, '\0'),  // 21 bytes
                                QByteArray("This is a text file, saved under a package's name.\n").repeated(40)};
    for (const QByteArray& input : inputs) {
        TZipExtractor extractor;
        extractor.ZipName = Archive(input, QStringLiteral("text.zvk"));
        EXPECT_NO_THROW(extractor.ReadDirectory());
        EXPECT_TRUE(extractor.Entries().empty());
        AsPlayer(extractor, extractor.ZipName);
        EXPECT_EQ(ErrorOf([&] { extractor.ExtractSelected(); }), QStringLiteral("Incomplete Zip File"))
            << input.size() << " bytes";
    }
    EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("x"))));
}

TEST_F(ZipExtractorTest, ArchiveCutInsideItsDirectoryOrEndRecordIsIncomplete)
{
    ZipBuilder builder;
    builder.Add("zvk.xml", "<zvk/>").Add("zvk.png", Noise(500), 8);
    const QByteArray whole = builder.Build();
    const auto directory = static_cast<qsizetype>(builder.DirectoryStart());
    const auto endRecord = static_cast<qsizetype>(builder.EndRecordStart());
    for (const qsizetype cut : {directory + 1, directory + 46, endRecord - 1, endRecord, endRecord + 4,
                                 endRecord + 21}) {
        TZipExtractor extractor;
        AsPlayer(extractor, Archive(whole.left(cut)));
        EXPECT_TRUE(extractor.Entries().empty());
        EXPECT_EQ(ErrorOf([&] { extractor.ExtractSelected(); }), QStringLiteral("Incomplete Zip File"))
            << "cut at " << cut;
    }
    EXPECT_TRUE(Tree(OutDir()).isEmpty());
}

TEST_F(ZipExtractorTest, MissingOrUnreadableArchiveIsAnError)
{
    TZipExtractor missing;
    missing.ZipName = Path(QStringLiteral("nowhere.zvk"));
    const QString text = ErrorOf([&] { missing.ReadDirectory(); });
    EXPECT_TRUE(text.contains(QStringLiteral("nowhere.zvk"))) << text.toStdString();

    TZipExtractor folder;
    folder.ZipName = temp_.path();
    EXPECT_NE(ErrorOf([&] { folder.ReadDirectory(); }), QStringLiteral("(no error)"));
    folder.DestDir = OutDir();
    EXPECT_NE(ErrorOf([&] { folder.ExtractSelected(); }), QStringLiteral("(no error)"));
}

TEST_F(ZipExtractorTest, DamagedDirectoryIsRebuiltFromLocalHeaders)
{
    ZipBuilder builder;
    builder.Add("a.txt", "alpha").Add("pets/b.bin", Noise(70000), 8);
    ZipMember streamed;  // sizes only in the data descriptor after the data
    streamed.name = "c.txt";
    streamed.data = QByteArray("streamed ").repeated(1000);
    streamed.method = 8;
    streamed.dataDescriptor = true;
    builder.Add(streamed);
    ZipMember streamedStored = streamed;
    streamedStored.name = "d.txt";
    streamedStored.method = 0;
    builder.Add(streamedStored);
    builder.Add("e.txt", "last");

    QByteArray bytes = builder.Build();
    bytes[static_cast<qsizetype>(builder.DirectoryStart()) + 2] = 'X';  // first central header's signature

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    extractor.ReadDirectory();
    ASSERT_EQ(extractor.Entries().size(), 5u);
    EXPECT_EQ(extractor.Entries()[2].CompressedSize, static_cast<std::uint64_t>(RawDeflate(streamed.data).size()));
    EXPECT_EQ(extractor.Entries()[2].Crc32, Crc32(streamed.data));

    EXPECT_EQ(ExtractAll(bytes), 5);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("a.txt"))), QByteArray("alpha"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("pets/b.bin"))), Noise(70000));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("c.txt"))), streamed.data);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("d.txt"))), streamed.data);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("e.txt"))), QByteArray("last"));
}

TEST_F(ZipExtractorTest, DamagedDirectoryWithoutLocalHeadersIsNotAZipFile)
{
    ZipBuilder empty;
    ZipLayout layout;
    layout.prefix = QByteArray("no local headers here ").repeated(10);
    layout.entryCount = 3;
    layout.directorySize = 46 * 3;
    layout.directoryOffset = 0;
    const QByteArray bytes = empty.Build(layout);

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    EXPECT_EQ(ErrorOf([&] { extractor.ReadDirectory(); }), QStringLiteral("Not a valid zip file!"));
    extractor.DestDir = OutDir();
    EXPECT_EQ(ErrorOf([&] { extractor.ExtractSelected(); }), QStringLiteral("Not a valid zip file!"));
}

TEST_F(ZipExtractorTest, ImpossibleDirectoryFiguresAreSurvived)
{
    // Counts, sizes and offsets far beyond the file: nothing may be sized by them.
    struct Forged {
        std::uint64_t count, size, offset;
        bool zip64;
    };
    const Forged cases[] = {
        {0xFFFF, 0xFFFFFFFF, 0xFFFFFFF0, false},
        {0xFFFF, 46, 0, false},
        {3000, 200, 0, false},
        {~std::uint64_t{0}, ~std::uint64_t{0}, ~std::uint64_t{0} - 10, true},
        {std::uint64_t{1} << 62, 1000, 0, true},
    };
    for (const Forged& forged : cases) {
        ZipBuilder builder;
        builder.Add("a.txt", "alpha").Add("b.txt", QByteArray(5000, 'b'), 8);
        ZipLayout layout;
        layout.entryCount = forged.count;
        layout.directorySize = forged.size;
        layout.directoryOffset = forged.offset;
        layout.zip64End = forged.zip64;
        QDir(OutDir()).removeRecursively();
        EXPECT_EQ(ExtractAll(builder.Build(layout)), 2) << forged.count;
        EXPECT_EQ(ReadAll(Out(QStringLiteral("b.txt"))), QByteArray(5000, 'b'));
    }
}

TEST_F(ZipExtractorTest, CommentsAndSignaturesInsideThemAreHandled)
{
    ZipBuilder builder;
    builder.Add("zvk.xml", "<zvk/>").Add("zvk.png", Noise(800), 8);

    ZipLayout plain;
    plain.comment = QByteArray("made for testing ").repeated(50);
    EXPECT_EQ(ExtractAll(builder.Build(plain)), 2);

    ZipLayout longest;
    longest.comment = QByteArray(0xFFFF, 'c');
    QDir(OutDir()).removeRecursively();
    EXPECT_EQ(ExtractAll(builder.Build(longest)), 2);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("zvk.png"))), Noise(800));

    // The nearest end record wins even inside a comment; its nonsense leads to the local
    // headers, which still give every member.
    ZipLayout decoy;
    decoy.comment = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\x7f') + QByteArray("tail");
    QDir(OutDir()).removeRecursively();
    EXPECT_EQ(ExtractAll(builder.Build(decoy)), 2);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("zvk.xml"))), QByteArray("<zvk/>"));
}

TEST_F(ZipExtractorTest, Zip64RecordsAndExtraFieldsAreRead)
{
    ZipBuilder builder;
    ZipMember big;
    big.name = "big.bin";
    big.data = Noise(40000);
    big.method = 8;
    big.zip64 = true;
    ZipMember streamed = big;
    streamed.name = "streamed.bin";
    streamed.data = QByteArray(90000, 's');
    streamed.dataDescriptor = true;
    builder.Add("first.txt", "plain").Add(big).Add(streamed);
    ZipLayout layout;
    layout.zip64End = true;
    const QByteArray bytes = builder.Build(layout);

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    extractor.ReadDirectory();
    ASSERT_EQ(extractor.Entries().size(), 3u);
    EXPECT_EQ(extractor.Entries()[1].UncompressedSize, 40000u);
    EXPECT_EQ(extractor.Entries()[1].LocalHeaderOffset, builder.LocalOffsets()[1]);
    EXPECT_EQ(extractor.Entries()[2].UncompressedSize, 90000u);
    EXPECT_EQ(extractor.Entries()[2].LocalHeaderOffset, builder.LocalOffsets()[2]);

    EXPECT_EQ(ExtractAll(bytes), 3);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("big.bin"))), big.data);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("streamed.bin"))), streamed.data);
}

TEST_F(ZipExtractorTest, DataDescriptorsTakeSizesAndCrcFromTheDirectory)
{
    ZipBuilder builder;
    for (const bool signature : {true, false}) {
        for (const std::uint16_t method : {std::uint16_t{0}, std::uint16_t{8}}) {
            ZipMember member;
            member.name = QByteArray("m") + QByteArray::number(method) + (signature ? "s" : "n") + ".txt";
            member.data = QByteArray("descriptor ").repeated(300) + member.name;
            member.method = method;
            member.dataDescriptor = true;
            member.descriptorSignature = signature;
            builder.Add(member);
        }
    }
    EXPECT_EQ(ExtractAll(builder.Build()), 4);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("m0n.txt"))), QByteArray("descriptor ").repeated(300) + "m0n.txt");
    EXPECT_EQ(ReadAll(Out(QStringLiteral("m8s.txt"))), QByteArray("descriptor ").repeated(300) + "m8s.txt");
}

TEST_F(ZipExtractorTest, DataPutBeforeTheArchiveIsAllowedFor)
{
    ZipBuilder builder;
    builder.Add("zvk.xml", "<zvk/>").Add("zvk.png", Noise(1000), 8);
    ZipLayout layout;
    layout.prefix = QByteArray("#!/bin/sh\nexit 0\n").repeated(30);
    layout.offsetsIncludePrefix = false;  // offsets as if the program were not there
    EXPECT_EQ(ExtractAll(builder.Build(layout)), 2);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("zvk.png"))), Noise(1000));

    // A wrong directory offset alone, with the stored entry offsets right.
    ZipLayout wrongOffset;
    wrongOffset.directoryOffset = 7;
    QDir(OutDir()).removeRecursively();
    EXPECT_EQ(ExtractAll(builder.Build(wrongOffset)), 2);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("zvk.png"))), Noise(1000));
}

// ---- selection and order -----------------------------------------------------------------

TEST_F(ZipExtractorTest, PlayerSettingsSelectNamesWithADot)
{
    ZipBuilder builder;
    builder.Add("README", "no dot").Add("zvk.xml", "<zvk/>").Add("docs.d/LICENSE", "dot in folder");
    builder.Add("Sounds/Meow.WAV", "upper case");
    TZipExtractor extractor;
    AsPlayer(extractor, Archive(builder.Build()));
    EXPECT_EQ(extractor.ExtractSelected(), 3);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"Sounds/", "Sounds/Meow.WAV", "docs.d/", "docs.d/LICENSE", "zvk.xml"}));
    EXPECT_TRUE(extractor.FilesList.isEmpty());
}

TEST_F(ZipExtractorTest, FilesListWildcardsIgnoreCaseAndDoAllIgnoresThem)
{
    ZipBuilder builder;
    builder.Add("Pets/Cat.PNG", "cat").Add("pets/dog.png", "dog").Add("pets/cat.txt", "text").Add("README", "r");
    const QString zip = Archive(builder.Build());

    TZipExtractor some;
    some.ZipName = zip;
    some.ReadDirectory();
    some.FilesList = QStringList{QStringLiteral("PETS\\<c-d>*.png"), QStringLiteral("read?e")};
    some.DestDir = OutDir();
    some.RecreateDirs = true;
    EXPECT_EQ(some.ExtractSelected(), 3);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"Pets/", "Pets/Cat.PNG", "README", "pets/", "pets/dog.png"}));

    TZipExtractor all;
    all.ZipName = zip;
    all.ReadDirectory();
    all.FilesList = QStringList{QStringLiteral("nothing")};
    all.DoAll = true;
    all.RecreateDirs = true;
    all.DestDir = Path(QStringLiteral("all"));
    EXPECT_EQ(all.ExtractSelected(), 4);
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("all/pets/cat.txt"))));
}

TEST_F(ZipExtractorTest, FolderEntryAndMemberFromAnotherTool)
{
    ZipBuilder builder;
    ZipMember folder;
    folder.name = "pets/";
    folder.externalAttributes = 0x10;
    builder.Add(folder).Add("pets/cat.png", Noise(100));
    const QString zip = Archive(builder.Build());

    TZipExtractor player;
    AsPlayer(player, zip);
    EXPECT_EQ(player.ExtractSelected(), 1);  // "pets\" has no dot; its member does
    EXPECT_EQ(ReadAll(Out(QStringLiteral("pets/cat.png"))), Noise(100));

    TZipExtractor all;  // a folder entry counts once it is selected
    all.ZipName = zip;
    all.DoAll = true;
    all.RecreateDirs = true;
    all.OverwriteMode = TOverwriteMode::Always;
    all.DestDir = Path(QStringLiteral("all"));
    EXPECT_EQ(all.ExtractSelected(), 2);
    EXPECT_TRUE(QFileInfo(Path(QStringLiteral("all/pets"))).isDir());
}

TEST_F(ZipExtractorTest, WithoutRecreateDirsFilesLandInTheDestinationAndFoldersAreSkipped)
{
    ZipBuilder builder;
    builder.Add("pets/", "").Add("pets/cat.png", "cat").Add("a/b/c.txt", "c");
    TZipExtractor extractor;
    extractor.ZipName = Archive(builder.Build());
    extractor.DoAll = true;
    extractor.RecreateDirs = false;
    extractor.DestDir = OutDir();
    EXPECT_EQ(extractor.ExtractSelected(), 2);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"c.txt", "cat.png"}));
}

TEST_F(ZipExtractorTest, EntriesAreExtractedInTheOrderOfTheirData)
{
    // The directory lists the later copy first; the copy stored later in the file wins.
    ZipBuilder builder;
    builder.Add("dup.txt", "first").Add("dup.txt", "second");
    ZipLayout layout;
    layout.centralOrder = {1, 0};
    EXPECT_EQ(ExtractAll(builder.Build(layout)), 2);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("dup.txt"))), QByteArray("second"));

    // With ifNewer the later duplicate must be strictly newer than the first one written.
    ZipBuilder dated;
    ZipMember older;
    older.name = "dup.txt";
    older.data = "newer";
    older.date = DosDate(2021, 1, 1);
    ZipMember later = older;
    later.data = "older";
    later.date = DosDate(2020, 1, 1);
    dated.Add(older).Add(later);
    QDir(OutDir()).removeRecursively();
    EXPECT_EQ(ExtractAll(dated.Build(), TOverwriteMode::ifNewer), 1);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("dup.txt"))), QByteArray("newer"));
}

TEST_F(ZipExtractorTest, ProcessesMessagesBeforeEachEntryAndEachBlock)
{
    ZipBuilder builder;
    builder.Add("d/", "").Add("d/empty.txt", "").Add("d/small.txt", "0123456789").Add("d/big.bin", Noise(100000));
    const QString zip = Archive(builder.Build());
    for (const bool enabled : {true, false}) {
        int calls = 0;
        TZipExtractor extractor;
        extractor.ZipName = zip;
        extractor.DoAll = true;
        extractor.RecreateDirs = true;
        extractor.OverwriteMode = TOverwriteMode::Always;
        extractor.DestDir = OutDir();
        extractor.DoProcessMessages = enabled;
        extractor.ProcessMessages = [&calls] { ++calls; };
        EXPECT_EQ(extractor.ExtractSelected(), 4);
        // 4 entries while selecting; blocks of 32 KiB: none, one, and four for 100,000 bytes.
        EXPECT_EQ(calls, enabled ? 4 + 0 + 1 + 4 : 0);
    }
}

// ---- overwriting -------------------------------------------------------------------------

TEST_F(ZipExtractorTest, SecondExtractionIntoTheSameFolderWritesNothing)
{
    ZipBuilder builder;
    builder.Add("zvk.xml", "<zvk/>").Add("zvk.png", Noise(2000), 8).Add("snd/meow.wav", "RIFF");
    const QString zip = Archive(builder.Build());
    TZipExtractor first;
    AsPlayer(first, zip);
    EXPECT_EQ(first.ExtractSelected(), 3);

    // Keep the time stamp but change the content: a rewrite would bring the content back.
    const QString xml = Out(QStringLiteral("zvk.xml"));
    const QDateTime stamp = QFileInfo(xml).lastModified();
    WriteAll(xml, "changed");
    SetModified(xml, stamp);

    TZipExtractor second;
    AsPlayer(second, zip);
    EXPECT_EQ(second.ExtractSelected(), 0);
    EXPECT_EQ(ReadAll(xml), QByteArray("changed"));
}

TEST_F(ZipExtractorTest, EveryOverwriteModeDecidesAsDocumented)
{
    // The member is dated 2020-06-15 12:00; the existing file one day before or after.
    const QDateTime member = FromDosDateTime({DosTime(12, 0, 0), DosDate(2020, 6, 15)});
    struct Case {
        TOverwriteMode mode;
        int existingDays;  // existing file's time relative to the member
        QList<bool> answers;
        bool usePrompts;
        bool replaced;
    };
    const Case cases[] = {
        {TOverwriteMode::Always, -1, {}, true, true},     {TOverwriteMode::Always, 1, {}, true, true},
        {TOverwriteMode::Never, -1, {}, true, false},     {TOverwriteMode::Never, 1, {}, true, false},
        {TOverwriteMode::ifNewer, -1, {}, true, true},    {TOverwriteMode::ifNewer, 1, {}, true, false},
        {TOverwriteMode::ifNewer, 0, {}, true, false},    {TOverwriteMode::ifOlder, 1, {}, true, true},
        {TOverwriteMode::ifOlder, -1, {}, true, false},   {TOverwriteMode::ifOlder, 0, {}, true, false},
        {TOverwriteMode::Prompt, 1, {true}, true, true},  {TOverwriteMode::Prompt, -1, {false}, true, false},
        {TOverwriteMode::Prompt, -1, {}, false, false},
    };
    ZipBuilder builder;
    builder.Add("pet.xml", "new");
    const QString zip = Archive(builder.Build());
    for (const Case& c : cases) {
        const QString target = Out(QStringLiteral("pet.xml"));
        QDir().mkpath(OutDir());
        WriteAll(target, "old");
        SetModified(target, member.addDays(c.existingDays));
        ScriptedPrompts prompts;
        prompts.confirmAnswers = c.answers;

        TZipExtractor extractor;
        extractor.ZipName = zip;
        extractor.DoAll = true;
        extractor.DestDir = OutDir();
        extractor.OverwriteMode = c.mode;
        extractor.UserPrompts = c.usePrompts ? &prompts : nullptr;
        const int count = extractor.ExtractSelected();
        const std::string label = "mode " + std::to_string(static_cast<int>(c.mode)) + ", days "
                                  + std::to_string(c.existingDays);
        EXPECT_EQ(count, c.replaced ? 1 : 0) << label;
        EXPECT_EQ(ReadAll(target), c.replaced ? QByteArray("new") : QByteArray("old")) << label;
        if (c.mode == TOverwriteMode::Prompt && c.usePrompts) {
            ASSERT_EQ(prompts.messages.size(), 1) << label;
            EXPECT_EQ(prompts.messages[0].kind, QStringLiteral("Confirm"));
            EXPECT_TRUE(prompts.messages[0].text.contains(target)) << prompts.messages[0].text.toStdString();
        } else {
            EXPECT_TRUE(prompts.messages.isEmpty()) << label;
        }
    }
}

TEST_F(ZipExtractorTest, ReadOnlyExistingFileIsReplacedOnlyWhenAllowed)
{
    ZipBuilder builder;
    builder.Add("locked.txt", "new");
    const QString zip = Archive(builder.Build());
    const QString target = Out(QStringLiteral("locked.txt"));
    QDir().mkpath(OutDir());
    WriteAll(target, "old");
    ASSERT_TRUE(ApplyDosAttributes(target, kDosReadOnly));

    for (const bool replace : {false, true}) {
        TZipExtractor extractor;
        extractor.ZipName = zip;
        extractor.DoAll = true;
        extractor.DestDir = OutDir();
        extractor.OverwriteMode = TOverwriteMode::Always;
        extractor.ReplaceReadOnly = replace;
        extractor.RetainAttributes = false;
        EXPECT_EQ(extractor.ExtractSelected(), replace ? 1 : 0);
        EXPECT_EQ(ReadAll(target), replace ? QByteArray("new") : QByteArray("old"));
    }
}

// ---- failures ----------------------------------------------------------------------------

TEST_F(ZipExtractorTest, UnknownMethodShowsOneBoxPerMemberAndWritesNothing)
{
    ZipBuilder builder;
    ZipMember bzip2;
    bzip2.name = "a.bz2.txt";
    bzip2.data = "whatever";
    bzip2.method = 12;
    bzip2.compressed = QByteArray("BZh9....");
    ZipMember lzma = bzip2;
    lzma.name = "c.txt";
    lzma.method = 14;
    builder.Add(bzip2).Add("b.txt", "fine").Add(lzma).Add("d.txt", "also fine", 8);
    const QByteArray bytes = builder.Build();

    EXPECT_EQ(ExtractAll(bytes), 2);
    const ScriptedPrompts::Shown box{QStringLiteral("Zip Error"), QStringLiteral("Unknown Compression Method")};
    EXPECT_EQ(prompts_.messages, (QList<ScriptedPrompts::Shown>{box, box}));
    EXPECT_EQ(Tree(OutDir()), (QStringList{"b.txt", "d.txt"}));

    TZipExtractor silent;  // without prompts nothing is shown and nothing breaks
    silent.ZipName = Archive(bytes);
    silent.DoAll = true;
    silent.DestDir = Path(QStringLiteral("silent"));
    EXPECT_EQ(silent.ExtractSelected(), 2);
}

TEST_F(ZipExtractorTest, CrcMismatchRemovesOnlyThatFile)
{
    ZipBuilder builder;
    ZipMember bad;
    bad.name = "bad.png";
    bad.data = Noise(5000);
    bad.method = 8;
    bad.crc = Crc32(bad.data) ^ 1;
    ZipMember unchecked;  // a CRC of 0 is not checked
    unchecked.name = "unchecked.txt";
    unchecked.data = "no crc";
    unchecked.crc = 0;
    builder.Add("a.txt", "a").Add(bad).Add(unchecked).Add("z.txt", "z");
    const QByteArray bytes = builder.Build();

    // An existing copy survives a damaged newer member.
    QDir().mkpath(OutDir());
    WriteAll(Out(QStringLiteral("bad.png")), "good old copy");
    SetModified(Out(QStringLiteral("bad.png")), QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
    EXPECT_EQ(ExtractAll(bytes), 3);
    EXPECT_EQ(ReadAll(Out(QStringLiteral("bad.png"))), QByteArray("good old copy"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("unchecked.txt"))), QByteArray("no crc"));
    EXPECT_TRUE(prompts_.messages.isEmpty());

    QFile::remove(Out(QStringLiteral("bad.png")));
    EXPECT_EQ(ExtractAll(bytes), 3);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"a.txt", "unchecked.txt", "z.txt"}));
}

TEST_F(ZipExtractorTest, DamagedCompressedDataStopsExtractionWithError)
{
    const QByteArray good = QByteArray("compressible ").repeated(2000);
    const QByteArray deflated = RawDeflate(good);
    const QList<QByteArray> damaged = {
        QByteArray("\xff\xff\xff\xff\xff\xff", 6),  // reserved block type
        deflated.left(deflated.size() / 2),         // stream ends before its last block
    };
    for (const QByteArray& data : damaged) {
        ZipBuilder builder;
        ZipMember member;
        member.name = "broken.txt";
        member.data = good;
        member.method = 8;
        member.compressed = data;
        builder.Add("before.txt", "before").Add(member).Add("after.txt", "after");
        QDir(OutDir()).removeRecursively();
        EXPECT_EQ(ErrorOf([&] { ExtractAll(builder.Build()); }), QStringLiteral("error"));
        EXPECT_EQ(Tree(OutDir()), QStringList{"before.txt"});
    }

    ZipBuilder misplaced;  // the directory points at something that is no local header
    ZipMember member;
    member.name = "x.txt";
    member.data = "x";
    member.localHeaderOffset = 50;  // inside its own local header, after the first member
    misplaced.Add("padding.txt", "padding").Add(member);
    EXPECT_EQ(ErrorOf([&] { ExtractAll(misplaced.Build()); }), QStringLiteral("error"));
}

TEST_F(ZipExtractorTest, DataCutShortStopsExtractionWithPrematureEnd)
{
    for (const std::uint16_t method : {std::uint16_t{0}, std::uint16_t{8}}) {
        ZipBuilder builder;
        ZipMember member;
        member.name = "cut.bin";
        member.data = Noise(3000);
        member.method = method;
        member.compressedSize = 10'000'000;  // far past the end of the file
        member.uncompressedSize = 10'000'000;
        builder.Add("before.txt", "before").Add(member).Add("after.txt", "after");
        QDir(OutDir()).removeRecursively();
        EXPECT_EQ(ErrorOf([&] { ExtractAll(builder.Build()); }), QStringLiteral("Premature end of file reached"))
            << "method " << method;
        EXPECT_EQ(Tree(OutDir()), QStringList{"before.txt"});
    }

    ZipBuilder beyond;
    ZipMember member;
    member.name = "ghost.txt";
    member.data = "ghost";
    member.localHeaderOffset = 1'000'000;
    beyond.Add(member);
    EXPECT_EQ(ErrorOf([&] { ExtractAll(beyond.Build()); }), QStringLiteral("Premature end of file reached"));
}

TEST_F(ZipExtractorTest, OutputThatCannotBeWrittenStopsExtraction)
{
    ZipBuilder builder;
    builder.Add("small.txt", "small").Add("huge.bin", Noise(200000)).Add("after.txt", "after");
    const QString zip = Archive(builder.Build());
    QDir().mkpath(OutDir());
    WriteAll(Out(QStringLiteral("huge.bin")), "previous copy");
    SetModified(Out(QStringLiteral("huge.bin")), QDateTime(QDate(2001, 1, 1), QTime(0, 0)));

    TZipExtractor extractor;
    extractor.ZipName = zip;
    extractor.DoAll = true;
    extractor.DestDir = OutDir();
    extractor.OverwriteMode = TOverwriteMode::Always;
    QString text;
    {
        const FileSizeLimit limit(50000);
        ASSERT_TRUE(limit.Active());
        text = ErrorOf([&] { extractor.ExtractSelected(); });
    }

    EXPECT_EQ(text, QStringLiteral("Cant write uncompressed file"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("huge.bin"))), QByteArray("previous copy"));
    EXPECT_EQ(Tree(OutDir()), (QStringList{"huge.bin", "small.txt"}));
}

TEST_F(ZipExtractorTest, OutputLargerThanDeclaredIsPassedOver)
{
    ZipBuilder builder;
    ZipMember stored;
    stored.name = "stored.txt";
    stored.data = QByteArray(100, 's');
    stored.uncompressedSize = 50;
    ZipMember bomb;  // 20 MB of zeros claiming to be 1,000 bytes
    bomb.name = "bomb.bin";
    bomb.data = QByteArray(20'000'000, '\0');
    bomb.method = 8;
    bomb.uncompressedSize = 1000;
    ZipMember exact;
    exact.name = "exact.bin";
    exact.data = QByteArray(65536, 'e');
    exact.method = 8;
    builder.Add(stored).Add(bomb).Add(exact).Add("after.txt", "after");
    EXPECT_EQ(ExtractAll(builder.Build()), 2);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"after.txt", "exact.bin"}));
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(ZipExtractorTest, EncryptedEntriesArePassedOverSilently)
{
    ZipBuilder builder;
    ZipMember secret;
    secret.name = "secret.txt";
    secret.data = "scrambled";
    secret.flags = 0x0001;
    ZipMember aes = secret;  // AES: encrypted flag and method 99; no box either
    aes.name = "aes.txt";
    aes.method = 99;
    aes.compressed = QByteArray("opaque");
    builder.Add(secret).Add(aes).Add("open.txt", "open");
    EXPECT_EQ(ExtractAll(builder.Build()), 1);
    EXPECT_EQ(Tree(OutDir()), QStringList{"open.txt"});
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(ZipExtractorTest, OutputThatCannotBeCreatedIsPassedOver)
{
    ZipBuilder builder;
    builder.Add("taken", "file where a folder is").Add("plain.txt/inner.txt", "under a file").Add("ok.txt", "ok");
    QDir().mkpath(Out(QStringLiteral("taken")));
    QDir().mkpath(OutDir());
    WriteAll(Out(QStringLiteral("plain.txt")), "a file");
    EXPECT_EQ(ExtractAll(builder.Build()), 1);
    EXPECT_TRUE(QFileInfo(Out(QStringLiteral("taken"))).isDir());
    EXPECT_EQ(ReadAll(Out(QStringLiteral("plain.txt"))), QByteArray("a file"));
    EXPECT_EQ(ReadAll(Out(QStringLiteral("ok.txt"))), QByteArray("ok"));
}

// ---- staying inside the destination ------------------------------------------------------

TEST_F(ZipExtractorTest, StoredPathsNeverLeaveTheDestination)
{
    ZipBuilder builder;
    const QList<QByteArray> names = {
        "../x1.txt",  "..\\x2.txt",       "\\abs.txt",        "/rooted.txt", "C:\\drive.txt",
        "C:..\\x3.txt", "a/../../x4.txt", "ok/../x5.txt",     "a/./b.txt",   "..",
        "sub/..",     "C:/tmp/drive2.txt", QByteArray("nul\0/../x6.txt", 14), "...txt",
    };
    for (const QByteArray& name : names)
        builder.Add(name, "payload " + name);
    const QByteArray bytes = builder.Build();

    TZipExtractor extractor;
    extractor.ZipName = Archive(bytes);
    extractor.DoAll = true;
    extractor.RecreateDirs = true;
    extractor.OverwriteMode = TOverwriteMode::Always;
    extractor.DestDir = Path(QStringLiteral("deep/out"));
    EXPECT_EQ(extractor.ExtractSelected(), 6);
    EXPECT_EQ(Tree(temp_.path()),
              (QStringList{"deep/", "deep/out/", "deep/out/...txt", "deep/out/a/", "deep/out/a/b.txt",
                           "deep/out/abs.txt", "deep/out/drive.txt", "deep/out/rooted.txt", "deep/out/tmp/",
                           "deep/out/tmp/drive2.txt", "test.zvk"}));

    // Without folders the stored folder is not used, yet names that climb stay refused.
    TZipExtractor flat;
    flat.ZipName = extractor.ZipName;
    flat.DoAll = true;
    flat.DestDir = Path(QStringLiteral("flat"));
    EXPECT_EQ(flat.ExtractSelected(), 6);
    EXPECT_EQ(Tree(Path(QStringLiteral("flat"))),
              (QStringList{"...txt", "abs.txt", "b.txt", "drive.txt", "drive2.txt", "rooted.txt"}));
}

TEST_F(ZipExtractorTest, LinksDevicesAndPipesAreNeverCreated)
{
    ZipBuilder builder;
    auto unixEntry = [](const QByteArray& name, std::uint32_t mode, const QByteArray& data) {
        ZipMember member;
        member.name = name;
        member.data = data;
        member.versionMadeBy = kUnixHost;
        member.externalAttributes = mode << 16;
        return member;
    };
    builder.Add(unixEntry("link", 0120777, "../../../etc/passwd"));
    builder.Add(unixEntry("fifo", 0010644, ""));
    builder.Add(unixEntry("device", 0020644, ""));
    builder.Add(unixEntry("dir/", 040755, ""));
    builder.Add(unixEntry("dir/regular.txt", 0100644, "regular"));
    EXPECT_EQ(ExtractAll(builder.Build()), 2);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"dir/", "dir/regular.txt"}));
}

TEST_F(ZipExtractorTest, ExistingLinksInsideTheDestinationAreNotFollowed)
{
    const QString outside = Path(QStringLiteral("outside"));
    QDir().mkpath(outside);
    QDir().mkpath(OutDir());
    WriteAll(outside + QStringLiteral("/target.txt"), "keep");
    ASSERT_TRUE(QFile::link(outside, Out(QStringLiteral("linkdir"))));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/target.txt"), Out(QStringLiteral("f.txt"))));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/created.txt"), Out(QStringLiteral("dangling.txt"))));

    ZipBuilder builder;
    builder.Add("linkdir/x.txt", "through a folder link").Add("f.txt", "through a file link");
    builder.Add("dangling.txt", "through a dangling link").Add("linkdir/sub/y.txt", "deeper");
    builder.Add("fine.txt", "fine");
    EXPECT_EQ(ExtractAll(builder.Build()), 1);
    EXPECT_EQ(Tree(outside), QStringList{"target.txt"});
    EXPECT_EQ(ReadAll(outside + QStringLiteral("/target.txt")), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo(Out(QStringLiteral("f.txt"))).isSymLink());
    EXPECT_EQ(ReadAll(Out(QStringLiteral("fine.txt"))), QByteArray("fine"));
}

TEST_F(ZipExtractorTest, EntriesSharingDataAreExtractedOnce)
{
    // Several directory entries pointing at one local header multiply a small archive.
    ZipBuilder builder;
    ZipMember first;
    first.name = "a.txt";
    first.data = QByteArray(1000, 'a');
    first.method = 8;
    ZipMember alias = first;
    alias.name = "b.txt";
    alias.localHeaderOffset = 0;
    builder.Add(first).Add(alias).Add("c.txt", "own data");
    EXPECT_EQ(ExtractAll(builder.Build()), 2);
    EXPECT_EQ(Tree(OutDir()), (QStringList{"a.txt", "c.txt"}));
}

// ---- time stamps and attributes ----------------------------------------------------------

TEST_F(ZipExtractorTest, TimeStampsAndReadOnlyAttributeAreRestored)
{
    ZipBuilder builder;
    ZipMember readOnly;
    readOnly.name = "ro.txt";
    readOnly.data = "read only";
    readOnly.time = DosTime(5, 6, 8);
    readOnly.date = DosDate(2019, 3, 4);
    readOnly.externalAttributes = 0x21;
    ZipMember unixReadOnly;
    unixReadOnly.name = "unix.txt";
    unixReadOnly.data = "r--r--r--";
    unixReadOnly.versionMadeBy = kUnixHost;
    unixReadOnly.externalAttributes = 0100444u << 16;
    ZipMember writable;
    writable.name = "rw.txt";
    writable.data = "writable";
    writable.time = DosTime(23, 59, 58);
    writable.date = DosDate(2107, 12, 31);
    ZipMember folder;
    folder.name = "locked/";
    folder.externalAttributes = 0x11;
    ZipMember inside;
    inside.name = "locked/inside.txt";
    inside.data = "inside";
    builder.Add(readOnly).Add(unixReadOnly).Add(writable).Add(folder).Add(inside);
    const QByteArray bytes = builder.Build();

    EXPECT_EQ(ExtractAll(bytes), 5);
    EXPECT_EQ(QFileInfo(Out(QStringLiteral("ro.txt"))).lastModified(),
              QDateTime(QDate(2019, 3, 4), QTime(5, 6, 8), Qt::LocalTime));
    EXPECT_EQ(QFileInfo(Out(QStringLiteral("rw.txt"))).lastModified(),
              QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58), Qt::LocalTime));
    EXPECT_FALSE(HasWritePermission(Out(QStringLiteral("ro.txt"))));
    EXPECT_FALSE(HasWritePermission(Out(QStringLiteral("unix.txt"))));
    EXPECT_TRUE(HasWritePermission(Out(QStringLiteral("rw.txt"))));
    EXPECT_TRUE(HasWritePermission(Out(QStringLiteral("locked"))));  // folders stay usable
    EXPECT_EQ(ReadAll(Out(QStringLiteral("locked/inside.txt"))), QByteArray("inside"));

    TZipExtractor plain;
    plain.ZipName = Archive(bytes);
    plain.DoAll = true;
    plain.RetainAttributes = false;
    plain.DestDir = Path(QStringLiteral("plain"));
    EXPECT_EQ(plain.ExtractSelected(), 4);
    EXPECT_TRUE(HasWritePermission(Path(QStringLiteral("plain/ro.txt"))));
    EXPECT_EQ(QFileInfo(Path(QStringLiteral("plain/ro.txt"))).lastModified(),
              QDateTime(QDate(2019, 3, 4), QTime(5, 6, 8), Qt::LocalTime));
}

// ---- archives made by other tools --------------------------------------------------------

TEST_F(ZipExtractorTest, LegacyArchivesFromAnotherToolMatchTheirInputs)
{
    const QString data = TestDataFolder();
    ASSERT_TRUE(!data.isEmpty() && QDir(data + QStringLiteral("/zip/legacy")).exists())
        << "ZIP conformance data not found: " ZUVORA_TESTDATA "/zip/legacy";
    const QDir legacy(data + QStringLiteral("/zip/legacy"));
    const QString inputs = legacy.filePath(QStringLiteral("inputs"));
    const QStringList expected = Tree(inputs);
    ASSERT_EQ(expected.size(), 8);  // seven files and the docs folder

    const QStringList archives = legacy.entryList(QStringList{QStringLiteral("*.zip")}, QDir::Files, QDir::Name);
    ASSERT_EQ(archives.size(), 11);
    for (const QString& name : archives) {
        SCOPED_TRACE(name.toStdString());
        const QString dest = Path(QStringLiteral("legacy/") + name);
        TZipExtractor extractor;
        extractor.ZipName = legacy.filePath(name);
        extractor.ReadDirectory();
        extractor.DoAll = true;
        extractor.RecreateDirs = true;
        extractor.DestDir = dest;
        int count = -1;
        EXPECT_NO_THROW(count = extractor.ExtractSelected());
        EXPECT_EQ(count, 7);
        EXPECT_EQ(Tree(dest), expected);
        for (const QString& file : expected) {
            if (!file.endsWith(u'/')) {
                EXPECT_EQ(ReadAll(dest + u'/' + file), ReadAll(inputs + u'/' + file)) << file.toStdString();
            }
        }
    }
}

TEST_F(ZipExtractorTest, InfoZipArchivesPlainAndStreamedWithZip64)
{
    const QString zip = QStandardPaths::findExecutable(QStringLiteral("zip"));
    if (zip.isEmpty())
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    const QString source = Path(QStringLiteral("src"));
    QDir().mkpath(source + QStringLiteral("/pets/sub"));
    WriteAll(source + QStringLiteral("/pets/cat.png"), Noise(70000));
    WriteAll(source + QStringLiteral("/pets/sub/notes.txt"), QByteArray("notes\n").repeated(5000));
    WriteAll(source + QStringLiteral("/README"), "readme");

    // Plain: folder entries, Unix attributes, extra fields. Streamed to a pipe with -fz:
    // data descriptors and Zip64 records.
    const QString plain = Path(QStringLiteral("plain.zip"));
    const QString streamed = Path(QStringLiteral("streamed.zip"));
    QProcess process;
    process.setWorkingDirectory(source);
    process.start(zip, {QStringLiteral("-q"), QStringLiteral("-r"), plain, QStringLiteral("pets"),
                        QStringLiteral("README")});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0);
    process.start(zip, {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-fz"), QStringLiteral("-"),
                        QStringLiteral("pets"), QStringLiteral("README")});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0);
    WriteAll(streamed, process.readAllStandardOutput());  // a pipe: zip cannot seek back

    for (const QString& archive : {plain, streamed}) {
        SCOPED_TRACE(archive.toStdString());
        const QString dest = archive + QStringLiteral(".out");
        TZipExtractor extractor;
        extractor.ZipName = archive;
        extractor.ReadDirectory();
        const bool descriptors = std::any_of(extractor.Entries().begin(), extractor.Entries().end(),
                                             [](const TZipEntry& e) { return e.Flags & 0x0008; });
        EXPECT_EQ(descriptors, archive == streamed);
        extractor.FilesList = QStringList{QStringLiteral("*.*")};
        extractor.RecreateDirs = true;
        extractor.OverwriteMode = TOverwriteMode::ifNewer;
        extractor.DestDir = dest;
        EXPECT_EQ(extractor.ExtractSelected(), 2);  // README has no dot
        EXPECT_EQ(Tree(dest), (QStringList{"pets/", "pets/cat.png", "pets/sub/", "pets/sub/notes.txt"}));
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/pets/cat.png")), Noise(70000));
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/pets/sub/notes.txt")), QByteArray("notes\n").repeated(5000));
    }
}

}  // namespace

// ---- bounds that hold whatever an archive claims -------------------------------------------

TEST_F(ZipExtractorTest, RecoveryScanStaysLinearWhateverTheHeadersClaim)
{
    // No directory; a header every 30 bytes, each claiming a name of 64 KB that holds the
    // next headers, and data that cannot be found: the scan resumes after each name and
    // keeps within the archive's size.
    const QByteArray header("PK\x03\x04\x14\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                            "\xff\xff\xff\xff\x00\x00\x00\x00\xf0\xff\x00\x00",
                            30);
    QByteArray described = header;  // sizes in a data descriptor that is not there
    described[6] = '\x08';
    described[18] = described[19] = described[20] = described[21] = '\0';
    QByteArray runaway = header;
    runaway[26] = '\xff';  // names that run past the end
    QStringList archives;
    for (const QByteArray* kind : std::initializer_list<const QByteArray*>{&header, &described, &runaway})
        archives.append(Archive(kind->repeated(35000), QString::number(archives.size()) + QStringLiteral(".zvk")));
    for (const QString& path : archives) {
        EXPECT_TRUE(WithinMemory(64, [&path] {
            TZipExtractor zip;
            zip.ZipName = path;
            try {
                zip.ReadDirectory();
            } catch (const TZipError&) {
                return true;
            }
            return zip.Entries().size() <= static_cast<std::size_t>(QFileInfo(path).size() / 30 + 1);
        })) << path.toStdString();
    }
}

TEST_F(ZipExtractorTest, OneExtractionWritesAtMostItsTotal)
{
    ZipBuilder builder;
    builder.Add("a.bin", QByteArray(600 * 1024, '\0'), 8).Add("b.bin", QByteArray(600 * 1024, '\0'), 8);
    TZipExtractor extractor;
    extractor.ZipName = Archive(builder.Build());
    extractor.ReadDirectory();
    extractor.DoAll = true;
    extractor.DestDir = OutDir();
    extractor.OverwriteMode = TOverwriteMode::Always;
    extractor.MaxTotalSize = 1 << 20;
    try {
        extractor.ExtractSelected();
        ADD_FAILURE() << "the archive wrote past its total";
    } catch (const TZipError& error) {
        EXPECT_EQ(error.Text(), QStringLiteral("The archive would write more than 1 MiB in all"));
    }
    EXPECT_EQ(Tree(OutDir()), QStringList{"a.bin"});
}

TEST_F(ZipExtractorTest, EntriesPassedOverComeWithTheirReasonAndADestinationThatCannotBeIsAnError)
{
    ZipBuilder builder;
    ZipMember bad;
    bad.name = "bad.png";
    bad.data = "data";
    bad.crc = 1;
    builder.Add("../up.png", "x").Add(bad).Add("ok.png", "fine");
    TZipExtractor extractor;
    extractor.ZipName = Archive(builder.Build());
    extractor.ReadDirectory();
    extractor.DoAll = true;
    extractor.DestDir = OutDir();
    extractor.OverwriteMode = TOverwriteMode::Always;
    QStringList passed;
    extractor.OnPassedOver = [&](const TZipEntry& entry, const QString& reason) {
        passed.append(entry.FolderPart + entry.FileName + QStringLiteral(": ") + reason);
    };
    EXPECT_EQ(extractor.ExtractSelected(), 1);
    EXPECT_EQ(passed, (QStringList{"..\\up.png: its name is not safe to write", "bad.png: its CRC-32 does not match"}));

    WriteAll(Path(QStringLiteral("plain")), "a file");
    extractor.DestDir = Path(QStringLiteral("plain/out"));
    extractor.DoAll = true;
    EXPECT_THROW(extractor.ExtractSelected(), TZipError);
}

TEST_F(ZipExtractorTest, AnOldStyleCountThatWrappedStillReadsEveryEntry)
{
    ZipBuilder builder;
    for (int i = 0; i < 70000; ++i)
        builder.Add(QByteArray::number(i) + ".a", {});
    ZipLayout layout;
    layout.entryCount = 70000 % 65536;
    TZipExtractor extractor;
    extractor.ZipName = Archive(builder.Build(layout));
    extractor.ReadDirectory();
    EXPECT_EQ(extractor.Entries().size(), 70000u);
    EXPECT_EQ(extractor.Entries().back().FileName, QStringLiteral("69999.a"));
}
