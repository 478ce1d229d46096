// libFuzzer target: any bytes as a project file. Reading must never crash, hang or leak, and
// whatever was read must save and read back with the same number of actions.

#include "packer/ProjectFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir work;
    if (!work.isValid())
        std::abort();
    const QString input = work.filePath(QStringLiteral("input.zvp"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    TActionModel read;
    LoadProject(input, read);

    const QString output = work.filePath(QStringLiteral("output.zvp"));
    SaveProject(output, read.Read());
    TActionModel again;
    if (LoadProject(output, again) || again.Count() != read.Count())
        std::abort();
    return 0;
}
