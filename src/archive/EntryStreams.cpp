#include "archive/EntryStreams.h"

#include "common/ByteReader.h"
#include "archive/LegacyDecoders.h"
#include "archive/ZipDirectory.h"
#include "archive/ZipFormat.h"

#include <algorithm>
#include <memory>

using namespace zipformat;

namespace zipstream {

void ThrowPrematureEnd() { throw TZipError(QStringLiteral("Premature end of file reached")); }

void ThrowDamaged() { throw TZipError(QStringLiteral("error")); }

bool IsKnownMethod(std::uint16_t method)
{
    return method == kMethodStored || (method >= kMethodShrunk && method <= kMethodImploded)
           || method == kMethodDeflated;
}


std::uint64_t LocateData(QIODevice& device, const TZipEntry& entry, std::uint64_t archiveSize)
{
    const QByteArray fixed = zipread::ReadAt(device, entry.LocalHeaderOffset, kLocalHeaderSize);
    if (static_cast<std::size_t>(fixed.size()) < kLocalHeaderSize)
        ThrowPrematureEnd();
    ByteReader header(fixed.constData(), kLocalHeaderSize);
    if (header.U32() != kLocalHeaderSignature)
        ThrowDamaged();
    header.Skip(22);
    const std::uint16_t nameLength = header.U16();
    const std::uint16_t extraLength = header.U16();
    const std::uint64_t dataStart = entry.LocalHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
    if (dataStart > archiveSize)
        ThrowPrematureEnd();
    return dataStart;
}

std::size_t EntryInput::Read(std::uint8_t* buffer, std::size_t capacity)
{
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>({capacity, kReadBlock, remaining_}));
    if (count == 0)
        return 0;
    // The windows take their messages as often as before, once per kBlockSize read.
    for (std::size_t pumped = 0; pumped < count; pumped += kBlockSize)
        beforeBlock_();
    if (device_.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(count)) != static_cast<qint64>(count))
        ThrowPrematureEnd();
    remaining_ -= count;
    return count;
}

void EntryOutput::Write(const std::uint8_t* data, std::size_t size)
{
    if (size > limit_ - written_)
        throw EntryTooLargeError();
    if (size > budget_)
        throw TZipError(QStringLiteral("The archive would write more than %1 MiB in all").arg(total_ >> 20));
    budget_ -= size;
    if (!file_.Write(data, size))
        throw TZipError(QStringLiteral("Cant write uncompressed file"));
    crc_ = crc32_z(crc_, data, size);
    written_ += size;
}

namespace {

// One pair of buffers for every entry a thread extracts: allocating and clearing half a
// megabyte per entry costs more than copying a small entry's data.
std::uint8_t* InputBuffer()
{
    static thread_local const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kReadBlock]);
    return buffer.get();
}

std::uint8_t* OutputBuffer()
{
    static thread_local const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kOutputBlock]);
    return buffer.get();
}

}  // namespace

void CopyStored(EntryInput& input, EntryOutput& output)
{
    std::uint8_t* const buffer = InputBuffer();
    while (const std::size_t count = input.Read(buffer, kReadBlock))
        output.Write(buffer, count);
}

void Inflate(EntryInput& input, EntryOutput& output)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        ThrowDamaged();
    struct Release {
        z_stream& s;
        ~Release() { inflateEnd(&s); }
    } release{stream};

    std::uint8_t* const in = InputBuffer();
    std::uint8_t* const out = OutputBuffer();
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            const std::size_t count = input.Read(in, kReadBlock);
            if (count == 0)
                ThrowDamaged();  // the compressed data end before the stream does
            stream.next_in = in;
            stream.avail_in = static_cast<uInt>(count);
        }
        stream.next_out = out;
        stream.avail_out = static_cast<uInt>(kOutputBlock);
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            ThrowDamaged();
        const std::size_t produced = kOutputBlock - stream.avail_out;
        if (produced > 0)
            output.Write(out, produced);
    }
}

void Decompress(const TZipEntry& entry, EntryInput& input, EntryOutput& output)
{
    const ZipByteSource source = [&input](std::uint8_t* buffer, std::size_t capacity) {
        return input.Read(buffer, capacity);
    };
    const ZipByteSink write = [&output](const std::uint8_t* data, std::size_t size) { output.Write(data, size); };
    switch (entry.Method) {
    case kMethodStored:
        CopyStored(input, output);
        break;
    case kMethodShrunk:
        Unshrink(source, write, entry.UncompressedSize);
        break;
    case kMethodImploded:
        Explode(source, write, entry.UncompressedSize, entry.Flags);
        break;
    case kMethodDeflated:
        Inflate(input, output);
        break;
    default:
        Unreduce(source, write, entry.UncompressedSize, entry.Method - 1);
        break;
    }
}

}  // namespace zipstream
