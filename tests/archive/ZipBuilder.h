#pragma once

// Test-only ZIP writer that lets every header field be chosen, including wrong values, so
// tests can build the damaged and unusual archives that the extractor has to survive. It
// spells out the record layouts itself rather than sharing the extractor's constants, so a
// misread field in the extractor shows up as a failing test.

#include <QByteArray>

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace ziptest {

// Raw deflate (no zlib wrapper), as ZIP method 8 stores it.
inline QByteArray RawDeflate(const QByteArray& data, int level = 9)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    return out;
}

inline std::uint32_t Crc32(const QByteArray& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
}

// MS-DOS date and time fields.
constexpr std::uint16_t DosDate(int year, int month, int day)
{
    return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr std::uint16_t DosTime(int hour, int minute, int second)
{
    return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

struct ZipMember {
    QByteArray name;  // stored bytes, "/" separators as tools write them
    QByteArray data;  // uncompressed content
    // 0 stores `data`, 8 deflates it with zlib; any other method needs `compressed`.
    std::uint16_t method = 0;
    std::optional<QByteArray> compressed;  // the member's data bytes exactly as stored
    std::uint16_t flags = 0;
    std::uint16_t time = DosTime(12, 0, 0);
    std::uint16_t date = DosDate(2020, 6, 15);
    std::optional<std::uint32_t> crc;                // default: CRC-32 of `data`
    std::optional<std::uint64_t> compressedSize;     // default: size of the stored bytes
    std::optional<std::uint64_t> uncompressedSize;   // default: size of `data`
    std::uint16_t versionMadeBy = 20;                // host 0 (MS-DOS), version 2.0
    std::uint32_t externalAttributes = 0x20;         // archive bit
    bool dataDescriptor = false;  // bit 3: zeros in the local header, descriptor after the data
    bool descriptorSignature = true;
    bool zip64 = false;           // sizes and offset in Zip64 extra fields
    QByteArray localExtra;
    QByteArray centralExtra;
    std::optional<std::uint64_t> localHeaderOffset;  // central directory's value, relative
};

struct ZipLayout {
    QByteArray prefix;   // bytes before the archive, as a self-extractor's program
    bool offsetsIncludePrefix = false;
    QByteArray comment;
    std::optional<std::uint16_t> commentLength;  // default: the comment's size
    bool zip64End = false;  // Zip64 end record and locator before the end record
    std::optional<std::uint64_t> entryCount;
    std::optional<std::uint64_t> directorySize;
    std::optional<std::uint64_t> directoryOffset;
    std::vector<std::size_t> centralOrder;  // order of the directory's headers; default as added
};

class ZipBuilder {
public:
    ZipBuilder& Add(ZipMember member)
    {
        members_.push_back(std::move(member));
        return *this;
    }
    ZipBuilder& Add(const QByteArray& name, const QByteArray& data, std::uint16_t method = 0)
    {
        ZipMember member;
        member.name = name;
        member.data = data;
        member.method = method;
        return Add(std::move(member));
    }

    QByteArray Build(const ZipLayout& layout = {})
    {
        QByteArray out = layout.prefix;
        const std::uint64_t base = layout.offsetsIncludePrefix ? 0 : static_cast<std::uint64_t>(layout.prefix.size());
        localOffsets_.clear();
        std::vector<QByteArray> stored;
        for (const ZipMember& m : members_) {
            localOffsets_.push_back(static_cast<std::uint64_t>(out.size()));
            const QByteArray bytes = m.compressed ? *m.compressed : m.method == 8 ? RawDeflate(m.data) : m.data;
            stored.push_back(bytes);
            const std::uint32_t crc = m.crc.value_or(Crc32(m.data));
            const std::uint64_t csize = m.compressedSize.value_or(static_cast<std::uint64_t>(bytes.size()));
            const std::uint64_t usize = m.uncompressedSize.value_or(static_cast<std::uint64_t>(m.data.size()));
            QByteArray extra = m.localExtra;
            if (m.zip64) {
                QByteArray field;
                Put64(field, m.dataDescriptor ? 0 : usize);
                Put64(field, m.dataDescriptor ? 0 : csize);
                extra += Zip64Extra(field);
            }
            Put32(out, 0x04034b50);
            Put16(out, m.zip64 ? 45 : 20);
            Put16(out, static_cast<std::uint16_t>(m.flags | (m.dataDescriptor ? 0x0008 : 0)));
            Put16(out, m.method);
            Put16(out, m.time);
            Put16(out, m.date);
            Put32(out, m.dataDescriptor ? 0 : crc);
            Put32(out, m.zip64 ? 0xFFFFFFFF : m.dataDescriptor ? 0 : static_cast<std::uint32_t>(csize));
            Put32(out, m.zip64 ? 0xFFFFFFFF : m.dataDescriptor ? 0 : static_cast<std::uint32_t>(usize));
            Put16(out, static_cast<std::uint16_t>(m.name.size()));
            Put16(out, static_cast<std::uint16_t>(extra.size()));
            out += m.name;
            out += extra;
            out += bytes;
            if (m.dataDescriptor) {
                if (m.descriptorSignature)
                    Put32(out, 0x08074b50);
                Put32(out, crc);
                if (m.zip64) {
                    Put64(out, csize);
                    Put64(out, usize);
                } else {
                    Put32(out, static_cast<std::uint32_t>(csize));
                    Put32(out, static_cast<std::uint32_t>(usize));
                }
            }
        }

        directoryStart_ = static_cast<std::uint64_t>(out.size());
        std::vector<std::size_t> order = layout.centralOrder;
        if (order.empty()) {
            for (std::size_t i = 0; i < members_.size(); ++i)
                order.push_back(i);
        }
        for (const std::size_t i : order) {
            const ZipMember& m = members_[i];
            const std::uint32_t crc = m.crc.value_or(Crc32(m.data));
            const std::uint64_t csize = m.compressedSize.value_or(static_cast<std::uint64_t>(stored[i].size()));
            const std::uint64_t usize = m.uncompressedSize.value_or(static_cast<std::uint64_t>(m.data.size()));
            const std::uint64_t offset = m.localHeaderOffset.value_or(localOffsets_[i] - base);
            QByteArray extra = m.centralExtra;
            if (m.zip64) {
                QByteArray field;
                Put64(field, usize);
                Put64(field, csize);
                Put64(field, offset);
                extra += Zip64Extra(field);
            }
            Put32(out, 0x02014b50);
            Put16(out, m.versionMadeBy);
            Put16(out, m.zip64 ? 45 : 20);
            Put16(out, static_cast<std::uint16_t>(m.flags | (m.dataDescriptor ? 0x0008 : 0)));
            Put16(out, m.method);
            Put16(out, m.time);
            Put16(out, m.date);
            Put32(out, crc);
            Put32(out, m.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(csize));
            Put32(out, m.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(usize));
            Put16(out, static_cast<std::uint16_t>(m.name.size()));
            Put16(out, static_cast<std::uint16_t>(extra.size()));
            Put16(out, 0);  // comment length
            Put16(out, 0);  // disk number start
            Put16(out, 0);  // internal attributes
            Put32(out, m.externalAttributes);
            Put32(out, m.zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(offset));
            out += m.name;
            out += extra;
        }
        const std::uint64_t directoryEnd = static_cast<std::uint64_t>(out.size());
        const std::uint64_t count = layout.entryCount.value_or(order.size());
        const std::uint64_t size = layout.directorySize.value_or(directoryEnd - directoryStart_);
        const std::uint64_t offset = layout.directoryOffset.value_or(directoryStart_ - base);

        if (layout.zip64End) {
            const std::uint64_t recordAt = static_cast<std::uint64_t>(out.size());
            Put32(out, 0x06064b50);
            Put64(out, 44);  // size of the rest of the record
            Put16(out, 45);
            Put16(out, 45);
            Put32(out, 0);
            Put32(out, 0);
            Put64(out, count);
            Put64(out, count);
            Put64(out, size);
            Put64(out, offset);
            Put32(out, 0x07064b50);
            Put32(out, 0);
            Put64(out, recordAt - base);
            Put32(out, 1);
        }
        endRecordStart_ = static_cast<std::uint64_t>(out.size());
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        const bool wide = layout.zip64End;
        Put16(out, wide ? 0xFFFF : static_cast<std::uint16_t>(count));
        Put16(out, wide ? 0xFFFF : static_cast<std::uint16_t>(count));
        Put32(out, wide ? 0xFFFFFFFF : static_cast<std::uint32_t>(size));
        Put32(out, wide ? 0xFFFFFFFF : static_cast<std::uint32_t>(offset));
        Put16(out, layout.commentLength.value_or(static_cast<std::uint16_t>(layout.comment.size())));
        out += layout.comment;
        return out;
    }

    // Positions in the last built archive.
    const std::vector<std::uint64_t>& LocalOffsets() const { return localOffsets_; }
    std::uint64_t DirectoryStart() const { return directoryStart_; }
    std::uint64_t EndRecordStart() const { return endRecordStart_; }

    static void Put16(QByteArray& out, std::uint16_t v)
    {
        out.append(static_cast<char>(v & 0xFF));
        out.append(static_cast<char>(v >> 8));
    }
    static void Put32(QByteArray& out, std::uint32_t v)
    {
        Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(out, static_cast<std::uint16_t>(v >> 16));
    }
    static void Put64(QByteArray& out, std::uint64_t v)
    {
        Put32(out, static_cast<std::uint32_t>(v & 0xFFFFFFFF));
        Put32(out, static_cast<std::uint32_t>(v >> 32));
    }

private:
    static QByteArray Zip64Extra(const QByteArray& field)
    {
        QByteArray extra;
        Put16(extra, 0x0001);
        Put16(extra, static_cast<std::uint16_t>(field.size()));
        return extra + field;
    }

    std::vector<ZipMember> members_;
    std::vector<std::uint64_t> localOffsets_;
    std::uint64_t directoryStart_ = 0;
    std::uint64_t endRecordStart_ = 0;
};

}  // namespace ziptest
