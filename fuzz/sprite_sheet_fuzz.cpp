// libFuzzer target: any bytes as a package's sprite sheet, decoded as the player decodes it
// but with a smaller size cap, so that a run under a memory limit of a few hundred MB
// reports only what the cap does not bound; then shaped for frames across the sheet, as
// the see-through pet is.

#include "FuzzInput.h"
#include "common/Error.h"
#include "package/SpriteSheet.h"
#include "image/ImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const QImage sheet = DecodeImage(WriteFuzzInput(data, size, QStringLiteral("zvk.png")), QStringLiteral("PNG"),
                                         nullptr, std::int64_t{64} << 20);
        const QImage clear = ClearPixels(sheet);
        const int w = sheet.width();
        const int h = sheet.height();
        for (const QRect frame : {sheet.rect(), QRect(w / 3, h / 3, w, h), QRect(-1, -1, w / 2 + 1, h / 2 + 1)}) {
            const std::optional<QRegion> region = ClearRegion(clear, frame, 100000);
            if (region && !region->isEmpty() && !QRect(QPoint(), frame.size()).contains(region->boundingRect()))
                __builtin_trap();
        }
    } catch (const TError&) {
    }
    return 0;
}
