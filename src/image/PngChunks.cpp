#include "image/PngChunks.h"

#include "common/Error.h"

#include <zlib.h>

namespace apng {

void AppendBig32(QByteArray& out, std::uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                           static_cast<char>(value)};
    out.append(bytes, 4);
}

QString TypeName(std::uint32_t type)
{
    const char name[4] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16), static_cast<char>(type >> 8),
                          static_cast<char>(type)};
    return QString::fromLatin1(name, 4);
}

[[noreturn]] void Fail(const QString& name, const QString& reason) { throw TError(name + QStringLiteral(": ") + reason); }

ChunkWalker::ChunkWalker(const QByteArray& file, std::size_t from, std::size_t to)
    : base_(reinterpret_cast<const std::uint8_t*>(file.constData())), reader_(base_ + from, to - from), from_(from)
{
}

bool ChunkWalker::Next(Chunk* chunk)
{
    if (reader_.Remaining() == 0)
        return false;
    chunk->begin = from_ + reader_.Position();
    const std::uint8_t* head = reader_.Bytes(8);
    if (head == nullptr)
        return Stop("the file ends inside a chunk header");
    chunk->length = Big32(head);
    chunk->type = Big32(head + 4);
    // The PNG format caps lengths at 2^31 - 1, and a type is four ASCII letters.
    if (chunk->length > 0x7FFFFFFF)
        return Stop("a chunk claims more than 2 GB");
    for (int i = 4; i < 8; ++i) {
        const std::uint8_t c = head[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return Stop("a chunk has an invalid type");
    }
    chunk->data = reader_.Bytes(chunk->length);
    const std::uint8_t* crc = reader_.Bytes(4);
    if (chunk->data == nullptr || crc == nullptr) {
        error_ = QStringLiteral("the file ends inside chunk %1").arg(TypeName(chunk->type));
        return false;
    }
    chunk->crc = Big32(crc);
    chunk->end = from_ + reader_.Position();
    return true;
}

bool ChunkWalker::Stop(const char* reason)
{
    error_ = QString::fromLatin1(reason);
    return false;
}

void CheckCrc(const Chunk& chunk, const QString& name)
{
    // The type sits just before the data and is covered by the checksum.
    const uLong crc = crc32(0, chunk.data - 4, static_cast<uInt>(chunk.length) + 4);
    if (crc != chunk.crc)
        Fail(name, QStringLiteral("chunk %1 has a bad checksum").arg(TypeName(chunk.type)));
}

void AppendChunk(QByteArray& out, const char* type, const QByteArray& data)
{
    AppendBig32(out, static_cast<std::uint32_t>(data.size()));
    out.append(type, 4);
    out.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size()));
    AppendBig32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace apng
