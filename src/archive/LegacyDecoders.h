#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Decompressors for the ZIP methods older than deflate: shrunk (1), reduced (2 to 5) and
// imploded (6). They only matter for archives made by other tools.
//
// Every decoder streams: it pulls compressed bytes from `source` and pushes decompressed
// bytes to `sink` in pieces, so memory stays bounded by the method's own tables and window,
// whatever sizes an archive claims. Damaged data raise TZipError("error").

// Fills `buffer` with up to `capacity` compressed bytes; returns how many, 0 at the end of
// the entry's compressed data.
using ZipByteSource = std::function<std::size_t(std::uint8_t* buffer, std::size_t capacity)>;
// Takes the next piece of decompressed data.
using ZipByteSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

// Each decoder stops after exactly `uncompressedSize` bytes (reduced and imploded data carry
// no end marker); compressed data that end before that raise TZipError("error").
void Unshrink(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize);
// `factor` is the compression method minus 1 (1 to 4).
void Unreduce(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize, int factor);
// `flags` is the entry's general-purpose bit flag: bit 1 selects the 8 KiB window, bit 2
// the literal tree.
void Explode(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize,
             std::uint16_t flags);
