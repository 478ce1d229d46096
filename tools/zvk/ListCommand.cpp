#include "Commands.h"

#include "archive/DosTime.h"
#include "archive/TZipExtractor.h"

namespace {

QString MethodName(std::uint16_t method)
{
    switch (method) {
    case 0: return QStringLiteral("stored");
    case 1: return QStringLiteral("shrunk");
    case 2: case 3: case 4: case 5: return QStringLiteral("reduced%1").arg(method - 1);
    case 6: return QStringLiteral("imploded");
    case 8: return QStringLiteral("deflated");
    default: return QStringLiteral("method%1").arg(method);
    }
}

}  // namespace

// One tab-separated line per entry, in directory order: name as stored, method, compressed
// size, uncompressed size, CRC-32, time stamp.
int ListCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(1);
    TZipExtractor zip;
    zip.ZipName = args[0];
    zip.ReadDirectory();
    for (const TZipEntry& entry : zip.Entries()) {
        QString name = entry.FolderPart + entry.FileName;
        name.replace(u'\\', u'/');
        const QDateTime stamp = FromDosDateTime({entry.DosTime, entry.DosDate});
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                     .arg(name, MethodName(entry.Method))
                     .arg(entry.CompressedSize)
                     .arg(entry.UncompressedSize)
                     .arg(entry.Crc32, 8, 16, QChar(u'0'))
                     .arg(stamp.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    }
    return 0;
}
