// libFuzzer target: any bytes as a package, read and extracted with everything selected.
// Besides crashes, hangs and leaks it catches files written outside the destination.

#include "archive/ZipExtractor.h"
#include "archive/ZipError.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The destination sits two levels down so that names climbing out of it land in folders
// this target can inspect.
bool OnlyDestinationWritten(const QString& work)
{
    const QDir root(work);
    QDirIterator it(work, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        if (relative == QLatin1String("a")
            || relative == QLatin1String("a/b") || relative == QLatin1String("a/b/out")
            || relative.startsWith(QLatin1String("a/b/out/")))
            continue;
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir work;
    if (!work.isValid())
        std::abort();
    const QString dest = work.filePath(QStringLiteral("a/b/out"));
    QDir(work.filePath(QStringLiteral("a"))).removeRecursively();
    // The archive is read from memory: no file per input.
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);

    try {
        TZipExtractor extractor;
        extractor.Source = &input;
        extractor.ReadDirectory();
        extractor.DoAll = true;
        extractor.RecreateDirs = true;
        extractor.OverwriteMode = TOverwriteMode::Always;
        extractor.DestDir = dest;
        extractor.ExtractSelected();
    } catch (const TZipError&) {
        // Damaged archives are expected; only crashes and escapes are faults.
    }
    if (!OnlyDestinationWritten(work.path()))
        std::abort();
    return 0;
}
