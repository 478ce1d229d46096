#pragma once

// The chunks of a PNG file, walked with bounds checked, as the APNG reader reads them.

#include "common/ByteReader.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace apng {

inline constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::uint32_t Tag(const char (&name)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3]));
}

inline constexpr std::uint32_t kIHDR = Tag("IHDR");
inline constexpr std::uint32_t kPLTE = Tag("PLTE");
inline constexpr std::uint32_t kTRNS = Tag("tRNS");
inline constexpr std::uint32_t kACTL = Tag("acTL");
inline constexpr std::uint32_t kFCTL = Tag("fcTL");
inline constexpr std::uint32_t kIDAT = Tag("IDAT");
inline constexpr std::uint32_t kFDAT = Tag("fdAT");
inline constexpr std::uint32_t kIEND = Tag("IEND");

inline std::uint32_t Big32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline std::uint16_t Big16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

void AppendBig32(QByteArray& out, std::uint32_t value);

// The four letters of a chunk type.
QString TypeName(std::uint32_t type);

// Raises TError "<name>: <reason>".
[[noreturn]] void Fail(const QString& name, const QString& reason);

struct Chunk {
    std::uint32_t type = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::size_t begin = 0;  // offsets of the chunk's length field and of the byte after its CRC
    std::size_t end = 0;
    std::uint32_t crc = 0;
};

// Walks whole chunks over [from, to) of the file. Stops at the end of the range, or on a
// chunk that is cut short or malformed, and then says why.
class ChunkWalker {
public:
    ChunkWalker(const QByteArray& file, std::size_t from, std::size_t to);

    bool Next(Chunk* chunk);

    // Why the walk stopped early, or empty at the end of the range.
    const QString& Error() const { return error_; }

private:
    bool Stop(const char* reason);

    const std::uint8_t* base_;
    ByteReader reader_;
    std::size_t from_;
    QString error_;
};

// Raises TError when the chunk's checksum does not match its type and data.
void CheckCrc(const Chunk& chunk, const QString& name);

// Appends a whole chunk with its length and checksum.
void AppendChunk(QByteArray& out, const char* type, const QByteArray& data);

}  // namespace apng
