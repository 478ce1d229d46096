#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

class ByteReader;

// What the reader takes from an entry's headers and the writer puts into them: the fields
// that the local header and the central-directory header both carry, and the central
// directory's attributes and local-header position.
struct TZipRecord {
    std::uint16_t Flags = 0;   // general-purpose bit flag
    std::uint16_t Method = 0;  // compression method
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint64_t LocalHeaderOffset = 0;

    // Both headers hold the shared fields in one order: version needed to extract, flags,
    // method, time, date, CRC-32, compressed size, uncompressed size (26 bytes).
    static constexpr std::size_t kSharedFieldsSize = 26;

    // Takes the shared fields from `header`; the version needed is passed over. A size of
    // 0xFFFFFFFF is the Zip64 marker, replaced from the extra field by the caller.
    void ReadSharedFields(ByteReader& header);
    // The shared fields as both headers carry them; a size flagged big holds the Zip64 marker.
    QByteArray SharedFields(std::uint16_t versionNeeded, bool bigCompressed, bool bigOriginal) const;
};
