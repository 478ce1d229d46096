#pragma once

#include <cstddef>
#include <cstdint>

// Record signatures, fixed sizes and flag bits of the ZIP container (PKWARE APPNOTE).
namespace zipformat {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;        // "PK\3\4"
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;      // "PK\1\2"
constexpr std::uint32_t kEndOfDirectorySignature = 0x06054b50;     // "PK\5\6"
constexpr std::uint32_t kZip64EndOfDirectorySignature = 0x06064b50;  // "PK\6\6"
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;       // "PK\6\7"
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;     // "PK\7\8"

// Fixed parts, without the variable-length name, extra field and comment.
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr std::size_t kZip64EndOfDirectorySize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
// The end record plus the longest comment it can announce.
constexpr std::size_t kEndOfDirectorySearchSpan = kEndOfDirectorySize + 0xFFFF;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
// A 32-bit size or offset with this value is held in the Zip64 extra field instead.
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;

// General-purpose bit flag.
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;  // sizes and CRC follow the data
constexpr std::uint16_t kFlagUtf8 = 0x0800;            // name and comment are UTF-8

// High byte of "version made by": the host whose attributes the entry carries.
constexpr std::uint8_t kHostMsDos = 0;
constexpr std::uint8_t kHostUnix = 3;

// Compression methods.
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodShrunk = 1;
constexpr std::uint16_t kMethodReducedFirst = 2;
constexpr std::uint16_t kMethodReducedLast = 5;
constexpr std::uint16_t kMethodImploded = 6;
constexpr std::uint16_t kMethodDeflated = 8;

}  // namespace zipformat
