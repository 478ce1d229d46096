// libFuzzer target: any bytes as a GIF (when they start as one) or else a WebP animation,
// read from memory into whole frames. Crashes, hangs, leaks, unbounded memory and frames
// that break the reader's promises are the faults.

#include "AnimationSink.h"
#include "common/Error.h"
#include "image/Animation.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckingSink sink;
    try {
        if (size >= 3 && std::memcmp(data, "GIF", 3) == 0)
            ReadGif(bytes, QStringLiteral("fuzz.gif"), sink);
        else
            ReadWebp(bytes, QStringLiteral("fuzz.webp"), sink);
        if (!sink.Complete())
            std::abort();
    } catch (const TError&) {
        // Damaged files are expected; only crashes and runaway costs are faults.
    }
    return 0;
}
