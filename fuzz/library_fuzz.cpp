// libFuzzer target: any bytes as the library file, read as the library window reads it;
// every row it gives must be one the file could store again.

#include "FuzzInput.h"
#include "app/LibraryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = WriteFuzzInput(data, size, QStringLiteral("Zuvora.Dat"));
    QList<TLibraryRow> rows;
    ReadLibrary(path, rows);
    for (const TLibraryRow& row : rows) {
        if (row.Path.isEmpty())
            std::abort();
    }
    return 0;
}
