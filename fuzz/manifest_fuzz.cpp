// libFuzzer target: any bytes as a package's manifest, read as the player reads it.

#include "FuzzInput.h"
#include "package/Manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TZvk zvk;
    ReadManifest(WriteFuzzInput(data, size, QStringLiteral("zvk.xml")), zvk);
    return 0;
}
