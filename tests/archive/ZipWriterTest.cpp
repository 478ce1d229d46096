#include "archive/DosTime.h"
#include "archive/ZipExtractor.h"
#include "archive/ZipWriter.h"
#include "archive/ZipError.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <zlib.h>


#include <functional>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

// ---- an independent reader of what the writer produced ---------------------------------

class Le {
public:
    Le(const QByteArray& bytes, qint64 pos) : bytes_(bytes), pos_(pos) {}
    bool Has(qint64 n) const { return pos_ >= 0 && n >= 0 && bytes_.size() - pos_ >= n; }
    std::uint64_t Get(int size)
    {
        std::uint64_t v = 0;
        if (!Has(size)) {
            ok = false;
            return 0;
        }
        for (int i = 0; i < size; ++i)
            v |= std::uint64_t{static_cast<std::uint8_t>(bytes_[pos_ + i])} << (8 * i);
        pos_ += size;
        return v;
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Get(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Get(4)); }
    std::uint64_t U64() { return Get(8); }
    QByteArray Take(qint64 n)
    {
        if (!Has(n)) {
            ok = false;
            return {};
        }
        const QByteArray part = bytes_.mid(pos_, n);
        pos_ += n;
        return part;
    }
    qint64 Pos() const { return pos_; }
    bool ok = true;

private:
    const QByteArray& bytes_;
    qint64 pos_;
};

struct Local {
    std::uint16_t needed = 0, flags = 0, method = 0, time = 0, date = 0;
    std::uint32_t crc = 0, compressed32 = 0, original32 = 0;
    QByteArray name, extra;
    qint64 dataStart = 0;
};

struct Entry {
    std::uint16_t madeBy = 0, needed = 0, flags = 0, method = 0, time = 0, date = 0;
    std::uint32_t crc = 0, compressed32 = 0, original32 = 0, external = 0, offset32 = 0;
    std::uint16_t disk = 0, internal = 0;
    QByteArray name, extra, comment;
    std::uint64_t compressed = 0, original = 0, offset = 0;  // after the Zip64 field
    Local local;
    QByteArray data;  // the stored bytes
};

struct Archive {
    std::vector<Entry> entries;
    std::uint16_t endCount = 0;
    std::uint32_t endSize = 0, endOffset = 0;
    bool zip64End = false;
    std::uint64_t count = 0, directorySize = 0, directoryOffset = 0;

    QStringList Names() const
    {
        QStringList names;
        for (const Entry& e : entries)
            names.append(QString::fromUtf8(e.name));
        return names;
    }
    const Entry* Find(const QString& name) const
    {
        for (const Entry& e : entries) {
            if (QString::fromUtf8(e.name) == name)
                return &e;
        }
        return nullptr;
    }
};

// Reads the archive strictly as the writer is meant to lay it out (no comment, so the end
// record is the last 22 bytes) and fails the test on anything else.
std::optional<Archive> Parse(const QByteArray& bytes)
{
    Archive a;
    const qint64 endPos = bytes.size() - 22;
    Le end(bytes, endPos);
    if (end.U32() != 0x06054b50) {
        ADD_FAILURE() << "no end record at the end of the file";
        return std::nullopt;
    }
    const std::uint16_t disk = end.U16(), cdDisk = end.U16(), diskCount = end.U16();
    a.endCount = end.U16();
    a.endSize = end.U32();
    a.endOffset = end.U32();
    EXPECT_EQ(end.U16(), 0) << "archive comment";
    EXPECT_EQ(disk, 0);
    EXPECT_EQ(cdDisk, 0);
    EXPECT_EQ(diskCount, a.endCount);
    a.count = a.endCount;
    a.directorySize = a.endSize;
    a.directoryOffset = a.endOffset;

    Le locator(bytes, endPos - 20);
    if (endPos >= 20 && locator.U32() == 0x07064b50) {
        a.zip64End = true;
        EXPECT_EQ(locator.U32(), 0u);
        const std::uint64_t z64 = locator.U64();
        EXPECT_EQ(locator.U32(), 1u);
        EXPECT_EQ(z64, static_cast<std::uint64_t>(endPos - 20 - 56));
        Le r(bytes, static_cast<qint64>(z64));
        EXPECT_EQ(r.U32(), 0x06064b50u);
        EXPECT_EQ(r.U64(), 44u);
        EXPECT_EQ(r.U16(), 45);
        EXPECT_EQ(r.U16(), 45);
        EXPECT_EQ(r.U32(), 0u);
        EXPECT_EQ(r.U32(), 0u);
        const std::uint64_t onDisk = r.U64();
        a.count = r.U64();
        EXPECT_EQ(onDisk, a.count);
        a.directorySize = r.U64();
        a.directoryOffset = r.U64();
        EXPECT_EQ(a.directoryOffset + a.directorySize, z64);
    } else {
        EXPECT_EQ(a.directoryOffset + a.directorySize, static_cast<std::uint64_t>(endPos));
    }

    Le c(bytes, static_cast<qint64>(a.directoryOffset));
    for (std::uint64_t i = 0; i < a.count; ++i) {
        Entry e;
        if (c.U32() != 0x02014b50) {
            ADD_FAILURE() << "central header " << i << " missing";
            return std::nullopt;
        }
        e.madeBy = c.U16();
        e.needed = c.U16();
        e.flags = c.U16();
        e.method = c.U16();
        e.time = c.U16();
        e.date = c.U16();
        e.crc = c.U32();
        e.compressed32 = c.U32();
        e.original32 = c.U32();
        const std::uint16_t nameLength = c.U16(), extraLength = c.U16(), commentLength = c.U16();
        e.disk = c.U16();
        e.internal = c.U16();
        e.external = c.U32();
        e.offset32 = c.U32();
        e.name = c.Take(nameLength);
        e.extra = c.Take(extraLength);
        e.comment = c.Take(commentLength);
        e.compressed = e.compressed32;
        e.original = e.original32;
        e.offset = e.offset32;
        if (!e.extra.isEmpty()) {
            Le x(e.extra, 0);
            EXPECT_EQ(x.U16(), 0x0001) << "only the Zip64 field is ever written";
            const std::uint16_t size = x.U16();
            if (e.original32 == 0xFFFFFFFF)
                e.original = x.U64();
            if (e.compressed32 == 0xFFFFFFFF)
                e.compressed = x.U64();
            if (e.offset32 == 0xFFFFFFFF)
                e.offset = x.U64();
            EXPECT_TRUE(x.ok);
            EXPECT_EQ(x.Pos(), 4 + size) << "Zip64 field holds exactly the marked values";
            EXPECT_EQ(e.extra.size(), 4 + size);
        }
        Le l(bytes, static_cast<qint64>(e.offset));
        if (l.U32() != 0x04034b50) {
            ADD_FAILURE() << "local header of " << e.name.toStdString() << " missing";
            return std::nullopt;
        }
        e.local.needed = l.U16();
        e.local.flags = l.U16();
        e.local.method = l.U16();
        e.local.time = l.U16();
        e.local.date = l.U16();
        e.local.crc = l.U32();
        e.local.compressed32 = l.U32();
        e.local.original32 = l.U32();
        const std::uint16_t localName = l.U16(), localExtra = l.U16();
        e.local.name = l.Take(localName);
        e.local.extra = l.Take(localExtra);
        e.local.dataStart = l.Pos();
        e.data = l.Take(static_cast<qint64>(e.compressed));
        if (!c.ok || !l.ok) {
            ADD_FAILURE() << "archive cut short";
            return std::nullopt;
        }
        a.entries.push_back(e);
    }
    EXPECT_EQ(static_cast<std::uint64_t>(c.Pos()), a.directoryOffset + a.directorySize);
    return a;
}

QByteArray RawInflate(const QByteArray& data)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    int result = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - z.avail_out));
    } while (result == Z_OK);
    inflateEnd(&z);
    EXPECT_EQ(result, Z_STREAM_END) << "deflate stream incomplete";
    return out;
}

std::uint32_t Crc(const QByteArray& data)
{
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
}

QByteArray Content(const Entry& e) { return e.method == 8 ? RawInflate(e.data) : e.data; }

QByteArray RandomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random.generate() & 0xFF);
    return bytes;
}

// Exposes the Zip64 limits so the Zip64 records can be checked on small archives.
class SmallLimitWriter : public TZipWriter {
public:
    SmallLimitWriter(std::uint64_t sizeLimit, std::uint64_t countLimit)
    {
        zip64SizeLimit_ = sizeLimit;
        zip64CountLimit_ = countLimit;
    }
};

class ZipWriterTest : public TempDirTest {
protected:
    QString Work() const { return Path(QStringLiteral("work")); }
    QString InWork(const QString& name) const { return QDir(Work()).filePath(name); }

    void Make(const QString& relative, const QByteArray& bytes)
    {
        const QString path = InWork(relative);
        QDir().mkpath(QFileInfo(path).path());
        WriteAll(path, bytes);
    }

    // The settings the packer uses for its work folder.
    void PackerSettings(TZipWriter& zip, const QString& zipName)
    {
        zip.ZipName = zipName;
        zip.FilesList = QStringList{Work() + QStringLiteral("/*.*")};
        zip.Recurse = true;
        zip.StorePaths = false;
        zip.IncludeHiddenFiles = true;
        zip.IncludeReadOnlyFiles = true;
    }

    int Pack(const QString& zipName)
    {
        TZipWriter zip;
        PackerSettings(zip, zipName);
        return zip.WriteArchive();
    }

    Archive Read(const QString& zipName)
    {
        const std::optional<Archive> archive = Parse(ReadAll(zipName));
        if (!archive) {
            ADD_FAILURE() << "unreadable archive " << zipName.toStdString();
            return {};
        }
        return *archive;
    }

    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(Work()));
    }
};

// ---- the packer's work folder ------------------------------------------------------------

TEST_F(ZipWriterTest, WorkFolderBecomesBareDeflatedEntriesWithTheirAttributes)
{
    const QByteArray xml = "<?xml version=\"1.0\"?><ZuvoProject Version=\"1.0.0\"/>\n";
    const QByteArray png = RandomBytes(70000, 1) + QByteArray(70000, 'z');  // more than one chunk
    const QByteArray wav = "RIFF....WAVE";
    Make(QStringLiteral("zvk.xml"), xml);
    Make(QStringLiteral("zvk.png"), png);
    Make(QStringLiteral("0.wav"), wav);
    Make(QStringLiteral(".hidden"), "h");
    ASSERT_TRUE(QFile::setPermissions(InWork(QStringLiteral("zvk.png")), QFile::ReadOwner | QFile::ReadGroup));

    const QString zipName = Path(QStringLiteral("pet.zvk"));
    EXPECT_EQ(Pack(zipName), 4);
    const Archive a = Read(zipName);
    // Name order within a folder, so the same folder always gives the same archive.
    EXPECT_EQ(a.Names(), (QStringList{".hidden", "0.wav", "zvk.png", "zvk.xml"}));
    EXPECT_FALSE(a.zip64End);
    EXPECT_EQ(a.endCount, 4);

    const QList<QByteArray> contents{"h", wav, png, xml};
    std::uint64_t expectedOffset = 0;
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const Entry& e = a.entries[i];
        SCOPED_TRACE(e.name.toStdString());
        EXPECT_EQ(e.madeBy, 45) << "version 4.5, MS-DOS host";
        EXPECT_EQ(e.needed, 20);
        EXPECT_EQ(e.flags, 0);
        EXPECT_EQ(e.method, 8);
        EXPECT_TRUE(e.extra.isEmpty());
        EXPECT_TRUE(e.comment.isEmpty());
        EXPECT_EQ(e.disk, 0);
        EXPECT_EQ(e.internal, 0);
        EXPECT_EQ(e.offset, expectedOffset) << "entries follow each other without gaps";
        EXPECT_EQ(Content(e), contents[static_cast<qsizetype>(i)]);
        EXPECT_EQ(e.original, static_cast<std::uint64_t>(contents[static_cast<qsizetype>(i)].size()));
        EXPECT_EQ(e.crc, Crc(contents[static_cast<qsizetype>(i)]));
        // The local header was rewritten with the final values.
        EXPECT_EQ(e.local.needed, e.needed);
        EXPECT_EQ(e.local.flags, e.flags);
        EXPECT_EQ(e.local.method, e.method);
        EXPECT_EQ(e.local.time, e.time);
        EXPECT_EQ(e.local.date, e.date);
        EXPECT_EQ(e.local.crc, e.crc);
        EXPECT_EQ(e.local.compressed32, e.compressed32);
        EXPECT_EQ(e.local.original32, e.original32);
        EXPECT_EQ(e.local.name, e.name);
        EXPECT_TRUE(e.local.extra.isEmpty());
        expectedOffset = static_cast<std::uint64_t>(e.local.dataStart) + e.compressed;
    }
    EXPECT_EQ(a.directoryOffset, expectedOffset);
    EXPECT_EQ(a.Find(".hidden")->external, kDosHidden | kDosArchive);
    EXPECT_EQ(a.Find("zvk.png")->external, kDosReadOnly | kDosArchive);
    EXPECT_EQ(a.Find("zvk.xml")->external, kDosArchive);
}

TEST_F(ZipWriterTest, SubfoldersAreSearchedAndTheFirstOfEqualNamesWins)
{
    Make(QStringLiteral("a/deep/frame.png"), "first");
    Make(QStringLiteral("b/FRAME.PNG"), "second, same name in other letter case");
    Make(QStringLiteral("b/other.png"), "other");
    Make(QStringLiteral("README"), "a name without a dot");
    Make(QStringLiteral("zvk.xml"), "x");
    QDir().mkpath(InWork(QStringLiteral("empty/folder")));

    const QString zipName = Path(QStringLiteral("pet.zvk"));
    EXPECT_EQ(Pack(zipName), 4);
    const Archive a = Read(zipName);
    // The folder's own files first, then its subfolders in name order, depth first.
    EXPECT_EQ(a.Names(), (QStringList{"README", "zvk.xml", "frame.png", "other.png"}));
    EXPECT_EQ(Content(*a.Find("frame.png")), "first");

    TZipWriter flat;
    PackerSettings(flat, Path(QStringLiteral("flat.zvk")));
    flat.Recurse = false;
    EXPECT_EQ(flat.WriteArchive(), 2);
    EXPECT_EQ(Read(Path(QStringLiteral("flat.zvk"))).Names(), (QStringList{"README", "zvk.xml"}));
}

TEST_F(ZipWriterTest, TheArchiveNeverHoldsItself)
{
    Make(QStringLiteral("zvk.xml"), "x");
    Make(QStringLiteral("sub/PET.ZVK"), "the same path in other letter case counts as the archive");
    const QString zipName = InWork(QStringLiteral("sub/pet.zvk"));
    // An old archive at the same place is not packed either.
    WriteAll(zipName, "old archive");

    EXPECT_EQ(Pack(zipName), 1);
    EXPECT_EQ(Read(zipName).Names(), QStringList{"zvk.xml"});
    // Packing again, now with a real archive in the searched folder.
    EXPECT_EQ(Pack(zipName), 1);
    EXPECT_EQ(Read(zipName).Names(), QStringList{"zvk.xml"});
    // No temporary file is left beside it.
    QStringList left = QDir(InWork(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, (QStringList{"PET.ZVK", "pet.zvk"}));
}

TEST_F(ZipWriterTest, IncludeSettingsAndMasksSelectFiles)
{
    Make(QStringLiteral("a.png"), "a");
    Make(QStringLiteral("b.PNG"), "b");
    Make(QStringLiteral("c.wav"), "c");
    Make(QStringLiteral(".d.png"), "d");
    Make(QStringLiteral("sub/e.png"), "e");
    Make(QStringLiteral("ro.png"), "r");
    ASSERT_TRUE(QFile::setPermissions(InWork(QStringLiteral("ro.png")), QFile::ReadOwner));

    auto names = [&](const std::function<void(TZipWriter&)>& setUp) {
        TZipWriter zip;
        zip.ZipName = Path(QStringLiteral("out.zvk"));
        zip.FilesList = QStringList{Work() + QStringLiteral("/*.png")};
        setUp(zip);
        zip.WriteArchive();
        return Read(zip.ZipName).Names();
    };
    // Class defaults: no recursion, hidden files left out, read-only ones taken; the mask's
    // letter case does not matter.
    EXPECT_EQ(names([](TZipWriter&) {}), (QStringList{"a.png", "b.PNG", "ro.png"}));
    EXPECT_EQ(names([](TZipWriter& z) { z.IncludeHiddenFiles = true; }),
              (QStringList{".d.png", "a.png", "b.PNG", "ro.png"}));
    EXPECT_EQ(names([](TZipWriter& z) { z.IncludeReadOnlyFiles = false; }), (QStringList{"a.png", "b.PNG"}));
    // Every file here carries the archive attribute.
    EXPECT_EQ(names([](TZipWriter& z) { z.IncludeArchiveFiles = false; }), QStringList{});
    EXPECT_EQ(names([](TZipWriter& z) { z.ExcludeList = QStringList{"B.*", "*/sub/*"}; z.Recurse = true; }),
              (QStringList{"a.png", "ro.png"}));
    EXPECT_EQ(names([&](TZipWriter& z) {
                  z.FilesList = QStringList{Work() + QStringLiteral("/<ac>.*"), Work() + QStringLiteral("/a.png")};
              }),
              (QStringList{"a.png", "c.wav"}))
        << "a file named by two masks is added once";
    EXPECT_EQ(names([](TZipWriter& z) { z.StorePaths = true; z.Recurse = true; }),
              (QStringList{"a.png", "b.PNG", "ro.png", "sub/e.png"}));
}

TEST_F(ZipWriterTest, FolderEntriesOnlyWhenAskedForWithPaths)
{
    Make(QStringLiteral("sub/inner/x.txt"), "x");
    TZipWriter zip;
    zip.ZipName = Path(QStringLiteral("out.zip"));
    zip.FilesList = QStringList{Work() + QStringLiteral("/*.*")};
    zip.Recurse = true;
    zip.StorePaths = true;
    zip.AddDirEntriesOnRecurse = true;
    EXPECT_EQ(zip.WriteArchive(), 1) << "folders are not counted as files";
    const Archive a = Read(zip.ZipName);
    EXPECT_EQ(a.Names(), (QStringList{"sub/", "sub/inner/", "sub/inner/x.txt"}));
    EXPECT_EQ(a.entries[0].method, 0);
    EXPECT_EQ(a.entries[0].original, 0u);
    EXPECT_EQ(a.entries[0].external & kDosDirectory, kDosDirectory);

    // Without stored paths a folder entry would be a bare name: none is written.
    zip.StorePaths = false;
    EXPECT_EQ(zip.WriteArchive(), 1);
    EXPECT_EQ(Read(zip.ZipName).Names(), QStringList{"x.txt"});
}

// ---- header values -----------------------------------------------------------------------

TEST_F(ZipWriterTest, TimeStampIsTheLocalLastWriteTimeInDosForm)
{
    Make(QStringLiteral("frame.png"), "data");
    Make(QStringLiteral("odd.png"), "data");
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 8), Qt::LocalTime);
    QFile frame(InWork(QStringLiteral("frame.png")));
    ASSERT_TRUE(frame.open(QIODevice::ReadWrite));
    ASSERT_TRUE(frame.setFileTime(when, QFileDevice::FileModificationTime));
    frame.close();
    QFile odd(InWork(QStringLiteral("odd.png")));
    ASSERT_TRUE(odd.open(QIODevice::ReadWrite));
    ASSERT_TRUE(odd.setFileTime(when.addSecs(1), QFileDevice::FileModificationTime));
    odd.close();

    const QString zipName = Path(QStringLiteral("pet.zvk"));
    Pack(zipName);
    const Archive a = Read(zipName);
    const std::uint16_t time = (5 << 11) | (6 << 5) | (8 / 2);
    const std::uint16_t date = ((2021 - 1980) << 9) | (3 << 5) | 4;
    for (const char* name : {"frame.png", "odd.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(a.Find(name)->time, time) << "2-second resolution, odd seconds round down";
        EXPECT_EQ(a.Find(name)->date, date);
        EXPECT_EQ(a.Find(name)->local.time, time);
        EXPECT_EQ(a.Find(name)->local.date, date);
    }
}

TEST_F(ZipWriterTest, NamesOutsideAsciiAreUtf8WithBit11)
{
    const QString name = QStringLiteral("gr\u00fc\u00dfe-\u732b.png");
    Make(name, "cat");
    Make(QStringLiteral("plain.png"), "p");
    const QString zipName = Path(QStringLiteral("pet.zvk"));
    Pack(zipName);
    const Archive a = Read(zipName);
    ASSERT_EQ(a.entries.size(), 2u);
    const Entry& utf8 = a.entries[0].name == "plain.png" ? a.entries[1] : a.entries[0];
    EXPECT_EQ(utf8.name, name.toUtf8());
    EXPECT_EQ(utf8.flags, 0x0800);
    EXPECT_EQ(utf8.local.flags, 0x0800);
    EXPECT_EQ(a.Find("plain.png")->flags, 0);
}

TEST_F(ZipWriterTest, StoredWhenLevelZeroOrListedNotToCompress)
{
    const QByteArray text(5000, 'a');
    Make(QStringLiteral("frame.png"), text);
    Make(QStringLiteral("zvk.xml"), text);
    Make(QStringLiteral("empty.wav"), "");

    TZipWriter zip;
    PackerSettings(zip, Path(QStringLiteral("a.zvk")));
    zip.NoCompressList = QStringList{"*.PNG"};
    zip.WriteArchive();
    Archive a = Read(zip.ZipName);
    EXPECT_EQ(a.Find("frame.png")->method, 0);
    EXPECT_EQ(a.Find("frame.png")->data, text);
    EXPECT_EQ(a.Find("frame.png")->compressed, 5000u);
    EXPECT_EQ(a.Find("zvk.xml")->method, 8);
    EXPECT_LT(a.Find("zvk.xml")->compressed, 100u);
    // An empty file is deflated like any other: an empty final block.
    EXPECT_EQ(a.Find("empty.wav")->method, 8);
    EXPECT_EQ(a.Find("empty.wav")->crc, 0u);
    EXPECT_EQ(a.Find("empty.wav")->original, 0u);
    EXPECT_EQ(Content(*a.Find("empty.wav")), QByteArray());

    zip.NoCompressList.clear();
    zip.PackLevel = 0;
    zip.WriteArchive();
    a = Read(zip.ZipName);
    for (const Entry& e : a.entries) {
        EXPECT_EQ(e.method, 0) << e.name.toStdString();
        EXPECT_EQ(e.needed, 20);
        EXPECT_EQ(e.compressed, e.original);
    }
    EXPECT_EQ(Content(*a.Find("zvk.xml")), text);
}

TEST_F(ZipWriterTest, SameFolderGivesTheSameBytes)
{
    for (int i = 0; i < 20; ++i)
        Make(QStringLiteral("d%1/f%2.png").arg(i % 3).arg(19 - i), RandomBytes(100 + i, static_cast<quint32>(i)));
    Pack(Path(QStringLiteral("one.zvk")));
    Pack(Path(QStringLiteral("two.zvk")));
    EXPECT_EQ(ReadAll(Path(QStringLiteral("one.zvk"))), ReadAll(Path(QStringLiteral("two.zvk"))));
}

// ---- Zip64, reached through lowered limits -------------------------------------------

TEST_F(ZipWriterTest, Zip64RecordsForWhatDoesNotFitTheLimits)
{
    const QByteArray big = RandomBytes(3000, 7);  // random: deflate cannot shrink it
    Make(QStringLiteral("a.bin"), "small");
    Make(QStringLiteral("b.bin"), big);
    Make(QStringLiteral("c.bin"), "late");

    SmallLimitWriter zip(1000, 3);
    PackerSettings(zip, Path(QStringLiteral("z64.zip")));
    EXPECT_EQ(zip.WriteArchive(), 3);
    const Archive a = Read(zip.ZipName);
    ASSERT_EQ(a.Names(), (QStringList{"a.bin", "b.bin", "c.bin"}));

    const Entry& small = a.entries[0];
    EXPECT_EQ(small.needed, 20);
    EXPECT_TRUE(small.extra.isEmpty());
    EXPECT_TRUE(small.local.extra.isEmpty());

    // The big one reserves the field in its local header (both sizes) and marks both sizes
    // in the directory; its offset still fits.
    const Entry& b = a.entries[1];
    EXPECT_EQ(b.needed, 45);
    EXPECT_EQ(b.local.needed, 45);
    EXPECT_EQ(b.compressed32, 0xFFFFFFFFu);
    EXPECT_EQ(b.original32, 0xFFFFFFFFu);
    EXPECT_EQ(b.extra.size(), 4 + 16);
    EXPECT_EQ(b.original, 3000u);
    EXPECT_EQ(b.local.compressed32, 0xFFFFFFFFu);
    EXPECT_EQ(b.local.original32, 0xFFFFFFFFu);
    ASSERT_EQ(b.local.extra.size(), 20);
    Le localExtra(b.local.extra, 4);
    EXPECT_EQ(localExtra.U64(), 3000u);
    EXPECT_EQ(localExtra.U64(), b.compressed);
    EXPECT_EQ(Content(b), big);
    EXPECT_EQ(b.crc, Crc(big));

    // The last one starts past the limit: only its offset goes to the Zip64 field.
    const Entry& c = a.entries[2];
    EXPECT_GE(c.offset, 1000u);
    EXPECT_EQ(c.offset32, 0xFFFFFFFFu);
    EXPECT_EQ(c.compressed32, c.compressed);
    EXPECT_EQ(c.extra.size(), 4 + 8);
    EXPECT_EQ(c.needed, 45);
    EXPECT_TRUE(c.local.extra.isEmpty());
    EXPECT_EQ(Content(c), "late");

    EXPECT_TRUE(a.zip64End);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.endCount, 0xFFFF) << "count at the limit goes to the Zip64 record";
    EXPECT_EQ(a.endOffset, 0xFFFFFFFFu);
    EXPECT_EQ(a.endSize, a.directorySize) << "the directory's size still fits";
}

// ---- failures -------------------------------------------------------------------------------

TEST_F(ZipWriterTest, ArchiveThatCannotBeCreatedRaisesAndLeavesNothing)
{
    Make(QStringLiteral("zvk.xml"), "x");
    const QString zipName = Path(QStringLiteral("missing/folder/pet.zvk"));
    try {
        Pack(zipName);
        ADD_FAILURE() << "no error raised";
    } catch (const TZipError& error) {
        EXPECT_TRUE(error.Text().startsWith(QStringLiteral("Cannot create the archive ") + zipName))
            << error.Text().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("missing"))));
}

TEST_F(ZipWriterTest, AnArchiveNameThatIsALinkIsRefusedAndWhatItLeadsToKept)
{
    Make(QStringLiteral("zvk.xml"), "x");
    WriteAll(Path(QStringLiteral("art.png")), "art");
    for (const char* target : {"art.png", "missing.png"}) {
        const QString link = Path(QStringLiteral("link.zvk"));
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(Path(QLatin1String(target)), link));
        try {
            Pack(link);
            ADD_FAILURE() << target << ": written through the link";
        } catch (const TError& error) {
            EXPECT_EQ(error.Text(), link + QStringLiteral(" is a symbolic link: saving there would replace the file it "
                                                          "leads to, so nothing was written"));
        }
        EXPECT_TRUE(QFileInfo(link).isSymLink());
    }
    EXPECT_EQ(ReadAll(Path(QStringLiteral("art.png"))), QByteArray("art"));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("missing.png"))));
}

TEST_F(ZipWriterTest, FullDiskRaisesAndLeavesNoPartialArchive)
{
    Make(QStringLiteral("zvk.png"), RandomBytes(200000, 3));
    Make(QStringLiteral("zvk.xml"), "x");
    QDir().mkpath(Path(QStringLiteral("out")));
    const QString zipName = Path(QStringLiteral("out/pet.zvk"));
    const QString oldName = Path(QStringLiteral("out/old.zvk"));

    QString text;
    bool secondRaised = false;
    {
        const FileSizeLimit limit(65536);
        ASSERT_TRUE(limit.Active());
        try {
            Pack(zipName);
        } catch (const TZipError& error) {
            text = error.Text();
        }
        // An archive that was there before a failed write stays as it was.
        WriteAll(oldName, "previous package");
        try {
            Pack(oldName);
        } catch (const TZipError&) {
            secondRaised = true;
        }
    }

    EXPECT_TRUE(text.startsWith(QStringLiteral("Cannot write the archive ") + zipName)) << text.toStdString();
    EXPECT_TRUE(secondRaised);
    EXPECT_EQ(QDir(Path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden), QStringList{"old.zvk"});
    EXPECT_EQ(ReadAll(oldName), "previous package");
}

TEST_F(ZipWriterTest, FileThatCannotBeOpenedIsPassedOverBetweenMessages)
{
    Make(QStringLiteral("a.png"), "a");
    Make(QStringLiteral("b.png"), "b");
    Make(QStringLiteral("c.png"), "c");
    TZipWriter zip;
    PackerSettings(zip, Path(QStringLiteral("pet.zvk")));
    int pumped = 0;
    // Messages are processed between files; here the handler removes a file the search found.
    zip.ProcessMessages = [&] {
        if (++pumped == 2)
            QFile::remove(InWork(QStringLiteral("b.png")));
    };
    // A file that opens but cannot be read: this process's memory at address 0.
    const bool unreadable = QFile::link(QStringLiteral("/proc/self/mem"), InWork(QStringLiteral("bb.png")));
    // Last, with a header longer than the directory that follows: the file must be cut back.
    QFile::link(QStringLiteral("/proc/self/mem"), InWork(QString(200, u'z') + QStringLiteral(".png")));
    EXPECT_EQ(zip.WriteArchive(), 2);
    EXPECT_GE(pumped, 3);
    const Archive a = Read(zip.ZipName);
    EXPECT_EQ(a.Names(), (QStringList{"a.png", "c.png"})) << "unreadable file tried: " << unreadable;
    EXPECT_EQ(Content(*a.Find("c.png")), "c");
    EXPECT_EQ(a.Find("c.png")->offset, static_cast<std::uint64_t>(a.Find("a.png")->local.dataStart) + 3)
        << "what was written for the files passed over is overwritten";

    pumped = 0;
    zip.DoProcessMessages = false;
    zip.WriteArchive();
    EXPECT_EQ(pumped, 0);
}

// ---- round trip through the extractor ------------------------------------------------------

TEST_F(ZipWriterTest, ExtractorGivesBackWhatWasPacked)
{
    const QByteArray png = RandomBytes(150000, 11);
    Make(QStringLiteral("zvk.png"), png);
    Make(QStringLiteral("zvk.xml"), QByteArray(100000, 'x'));
    Make(QStringLiteral("sub/0.wav"), "wave");
    Make(QStringLiteral("\u00e9t\u00e9.wav"), "summer");
    ASSERT_TRUE(QFile::setPermissions(InWork(QStringLiteral("sub/0.wav")), QFile::ReadOwner));
    const QDateTime when(QDate(2020, 2, 29), QTime(23, 59, 58), Qt::LocalTime);
    {
        QFile file(InWork(QStringLiteral("zvk.png")));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    }

    for (const std::uint64_t limit : {std::uint64_t{0xFFFFFFFF}, std::uint64_t{1000}}) {
        SCOPED_TRACE(limit);
        SmallLimitWriter zip(limit, limit);
        PackerSettings(zip, Path(QStringLiteral("pet.zvk")));
        EXPECT_EQ(zip.WriteArchive(), 4);

        const QString dest = Path(QStringLiteral("cache%1").arg(limit));
        ScriptedPrompts prompts;
        TZipExtractor unzip;
        unzip.ZipName = zip.ZipName;
        unzip.UserPrompts = &prompts;
        unzip.ReadDirectory();
        unzip.FilesList = QStringList{"*.*"};
        unzip.DestDir = dest;
        unzip.OverwriteMode = TOverwriteMode::ifNewer;
        unzip.RecreateDirs = true;
        unzip.RetainAttributes = true;
        EXPECT_EQ(unzip.ExtractSelected(), 4);
        EXPECT_TRUE(prompts.messages.isEmpty());
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/zvk.png")), png);
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/zvk.xml")), QByteArray(100000, 'x'));
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/0.wav")), "wave");
        EXPECT_EQ(ReadAll(dest + QStringLiteral("/\u00e9t\u00e9.wav")), "summer");
        EXPECT_EQ(QFileInfo(dest + QStringLiteral("/zvk.png")).lastModified(), when);
        EXPECT_EQ(DosAttributesOf(dest + QStringLiteral("/0.wav")) & kDosReadOnly, kDosReadOnly);
    }
}

// ---- Info-ZIP reads our archives ---------------------------------------------------------

QString RunTool(const QString& program, const QStringList& args, int* exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(30000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

TEST_F(ZipWriterTest, InfoZipTestsAndDescribesOurArchives)
{
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    const QString zipinfo = QStandardPaths::findExecutable(QStringLiteral("zipinfo"));
    if (unzip.isEmpty() || zipinfo.isEmpty())
        GTEST_SKIP() << "Info-ZIP unzip/zipinfo not installed";

    Make(QStringLiteral("zvk.xml"), QByteArray(3000, 'x'));
    Make(QStringLiteral("zvk.png"), RandomBytes(90000, 5));
    Make(QStringLiteral("0.wav"), "");
    Make(QStringLiteral(".hidden"), "h");
    ASSERT_TRUE(QFile::setPermissions(InWork(QStringLiteral("zvk.xml")), QFile::ReadOwner));

    const QString zipName = Path(QStringLiteral("pet.zvk"));
    Pack(zipName);
    int code = 0;
    QString out = RunTool(unzip, {"-t", zipName}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("No errors detected"))) << out.toStdString();

    out = RunTool(zipinfo, {"-v", zipName}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_EQ(out.count(QStringLiteral("file system or operating system of origin:      MS-DOS, OS/2 or NT FAT")), 4);
    EXPECT_EQ(out.count(QStringLiteral("version of encoding software:                   4.5")), 4);
    EXPECT_EQ(out.count(QStringLiteral("minimum software version required to extract:   2.0")), 4);
    EXPECT_EQ(out.count(QStringLiteral("compression method:                             deflated")), 4);
    EXPECT_EQ(out.count(QStringLiteral("compression sub-type (deflation):               normal")), 4);
    EXPECT_EQ(out.count(QStringLiteral("extended local header:                          no")), 4);
    EXPECT_EQ(out.count(QStringLiteral("length of extra field:                          0 bytes")), 4);
    EXPECT_TRUE(out.contains(QStringLiteral("MS-DOS file attributes (21 hex):                rdo arc")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("MS-DOS file attributes (22 hex):                hid arc")));
    EXPECT_TRUE(out.contains(QStringLiteral("There is no zipfile comment.")));

    // Info-ZIP extracts the same bytes.
    const QString dest = Path(QStringLiteral("unzipped"));
    out = RunTool(unzip, {"-q", zipName, "-d", dest}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_EQ(ReadAll(dest + QStringLiteral("/zvk.png")), ReadAll(InWork(QStringLiteral("zvk.png"))));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("/zvk.xml")), QByteArray(3000, 'x'));

    // And the Zip64 form, with every record present.
    SmallLimitWriter z64(1000, 2);
    PackerSettings(z64, Path(QStringLiteral("z64.zip")));
    z64.WriteArchive();
    out = RunTool(unzip, {"-t", z64.ZipName}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("No errors detected"))) << out.toStdString();
    out = RunTool(zipinfo, {"-v", z64.ZipName}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    // The big member and the one behind it need Zip64; the two in front do not.
    EXPECT_EQ(out.count(QStringLiteral("minimum software version required to extract:   4.5")), 2)
        << out.toStdString();
    EXPECT_EQ(out.count(QStringLiteral("minimum software version required to extract:   2.0")), 2);
}

}  // namespace
