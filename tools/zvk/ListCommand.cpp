#include "Commands.h"

#include "package/PackageReader.h"

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
    TPackageReader package(args[0]);
    package.ReadDirectory();
    for (const TPackageMember& member : package.Members()) {
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                     .arg(member.Name, MethodName(member.Method))
                     .arg(member.CompressedSize)
                     .arg(member.Size)
                     .arg(member.Crc32, 8, 16, QChar(u'0'))
                     .arg(member.Modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    }
    return 0;
}
