// libFuzzer target: any bytes as a project file. Reading must never crash, hang or leak, and
// whatever was read must save and read back with the same number of actions.

#include "FuzzInput.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = WriteFuzzInput(data, size, QStringLiteral("input.zvp"));
    TActionModel read;
    LoadProject(input, read);

    const QString output = QFileInfo(input).dir().filePath(QStringLiteral("output.zvp"));
    SaveProject(output, read.Read());
    TActionModel again;
    if (LoadProject(output, again) || again.Count() != read.Count())
        std::abort();
    return 0;
}
