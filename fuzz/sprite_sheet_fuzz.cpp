// libFuzzer target: any bytes as a package's sprite sheet, decoded as the player decodes it
// but with a smaller size cap, so that a run under a memory limit of a few hundred MB
// reports only what the cap does not bound.

#include "FuzzInput.h"
#include "common/Error.h"
#include "packer/ImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        DecodeImage(WriteFuzzInput(data, size, QStringLiteral("zvk.png")), QStringLiteral("PNG"), nullptr,
                    std::int64_t{64} << 20);
    } catch (const TError&) {
    }
    return 0;
}
