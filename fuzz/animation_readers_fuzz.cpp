// libFuzzer target: any bytes read from memory into whole frames by the animation reader
// whose signature they start with, or, starting with none, by every animation reader, so
// that each one's refusal of foreign data is fuzzed too. Crashes, hangs, leaks, unbounded
// memory and frames that break the reader's promises are the faults.

#include "AnimationSink.h"
#include "common/Error.h"
#include "image/ImageFormat.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Read(const TImageFormat& format, const QByteArray& bytes)
{
    CheckingSink sink;
    try {
        format.Read(bytes, QStringLiteral("fuzz.") + QString::fromLatin1(format.Extensions).section(u' ', 0, 0), sink);
        if (!sink.Complete())
            std::abort();
    } catch (const TError&) {
        // Damaged files are expected; only crashes and runaway costs are faults.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const TImageFormat* format = AnimationFormatOf(bytes)) {
        Read(*format, bytes);
        return 0;
    }
    for (const TImageFormat& format : ImageFormats()) {
        if (TakesFormat(format, TImageUse::Import))
            Read(format, bytes);
    }
    return 0;
}
