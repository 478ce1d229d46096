#include "archive/ZipRecord.h"

#include "archive/ZipFormat.h"
#include "common/ByteReader.h"

namespace {

void PutLe(QByteArray& out, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t Low32(std::uint64_t value, bool big) { return big ? zipformat::kZip64Marker : static_cast<std::uint32_t>(value); }

}  // namespace

void TZipRecord::ReadSharedFields(ByteReader& header)
{
    header.Skip(2);  // version needed to extract
    Flags = header.U16();
    Method = header.U16();
    DosTime = header.U16();
    DosDate = header.U16();
    Crc32 = header.U32();
    CompressedSize = header.U32();
    UncompressedSize = header.U32();
}

QByteArray TZipRecord::SharedFields(std::uint16_t versionNeeded, bool bigCompressed, bool bigOriginal) const
{
    QByteArray out;
    out.reserve(kSharedFieldsSize);
    PutLe(out, versionNeeded, 2);
    PutLe(out, Flags, 2);
    PutLe(out, Method, 2);
    PutLe(out, DosTime, 2);
    PutLe(out, DosDate, 2);
    PutLe(out, Crc32, 4);
    PutLe(out, Low32(CompressedSize, bigCompressed), 4);
    PutLe(out, Low32(UncompressedSize, bigOriginal), 4);
    return out;
}
