#include "archive/LegacyDecoders.h"
#include "archive/ZipError.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

// Runs the decoder for a ZIP method (1 to 6) over `packed`, handing it out `chunk` bytes at a
// time, and checks that the output arrives in bounded pieces.
QByteArray Decode(int method, std::uint16_t flags, const QByteArray& packed, std::uint64_t size,
                  std::size_t chunk = 4096)
{
    std::size_t offset = 0;
    const ZipByteSource source = [&](std::uint8_t* buffer, std::size_t capacity) {
        const std::size_t n = std::min({capacity, chunk, static_cast<std::size_t>(packed.size()) - offset});
        std::memcpy(buffer, packed.constData() + offset, n);
        offset += n;
        return n;
    };
    QByteArray result;
    const ZipByteSink sink = [&](const std::uint8_t* data, std::size_t n) {
        EXPECT_GT(n, 0u);
        EXPECT_LE(n, 32u * 1024);
        result.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
    };
    if (method == 1)
        Unshrink(source, sink, size);
    else if (method >= 2 && method <= 5)
        Unreduce(source, sink, size, method - 1);
    else
        Explode(source, sink, size, flags);
    return result;
}

std::uint32_t Crc32(const QByteArray& bytes)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), static_cast<uInt>(bytes.size())));
}

// Packs codes least significant bit first, as ZIP does.
class TBitWriter {
public:
    TBitWriter& Put(std::uint32_t value, int bits)
    {
        for (int i = 0; i < bits; ++i)
            PutBit((value >> i) & 1);
        return *this;
    }
    // A Shannon-Fano code, written first bit first as the decoder reads it.
    TBitWriter& Code(const std::string& bits)
    {
        for (const char bit : bits)
            PutBit(bit == '1' ? 1 : 0);
        return *this;
    }
    QByteArray Bytes() const { return bytes_; }

private:
    void PutBit(std::uint32_t bit)
    {
        if (used_ % 8 == 0)
            bytes_.append('\0');
        if (bit != 0)
            bytes_[bytes_.size() - 1] = static_cast<char>(bytes_.back() | (1 << (used_ % 8)));
        ++used_;
    }

    QByteArray bytes_;
    int used_ = 0;
};

// ---------------------------------------------------------------------------------------
// Archives made by another tool, walked by their local headers.

struct TMember {
    QString Name;
    int Method = 0;
    std::uint16_t Flags = 0;
    std::uint32_t Crc = 0;
    std::uint64_t Size = 0;
    QByteArray Packed;
};

std::uint32_t Le(const QByteArray& bytes, qsizetype at, int width)
{
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

std::vector<TMember> LocalMembers(const QByteArray& zip)
{
    std::vector<TMember> members;
    qsizetype at = 0;
    while (at + 30 <= zip.size() && Le(zip, at, 4) == 0x04034b50) {
        TMember member;
        member.Flags = static_cast<std::uint16_t>(Le(zip, at + 6, 2));
        member.Method = static_cast<int>(Le(zip, at + 8, 2));
        member.Crc = Le(zip, at + 14, 4);
        member.Size = Le(zip, at + 22, 4);
        const qsizetype packedSize = Le(zip, at + 18, 4);
        const qsizetype nameSize = Le(zip, at + 26, 2);
        const qsizetype data = at + 30 + nameSize + Le(zip, at + 28, 2);
        // Sizes after the data would leave the header's sizes empty; these archives have none.
        EXPECT_EQ(member.Flags & 0x08, 0) << "data descriptor at " << at;
        if ((member.Flags & 0x08) != 0 || data + packedSize > zip.size()) {
            ADD_FAILURE() << "member at " << at << " runs past the archive";
            break;
        }
        member.Name = QString::fromUtf8(zip.mid(at + 30, nameSize));
        member.Packed = zip.mid(data, packedSize);
        members.push_back(member);
        at = data + packedSize;
    }
    return members;
}

struct TArchiveCase {
    const char* File;
    int Method;
    std::uint16_t Flags;
};

void PrintTo(const TArchiveCase& archive, std::ostream* out) { *out << archive.File; }

class ForeignArchive : public ::testing::TestWithParam<TArchiveCase> {
protected:
    void SetUp() override
    {
        const QString folder = TestDataFolder();
        ASSERT_FALSE(folder.isEmpty()) << "conformance data not found: " ZUVORA_TESTDATA;
        legacy_ = QDir(folder).filePath(QStringLiteral("zip/legacy"));
        const QByteArray zip = ReadAll(QDir(legacy_).filePath(QString::fromUtf8(GetParam().File)));
        ASSERT_FALSE(zip.isEmpty()) << "zip/legacy/" << GetParam().File << " is absent from the test data";
        for (TMember& member : LocalMembers(zip)) {
            if (member.Method != 0)
                compressed_.push_back(member);
        }
        // hello.txt, data.bin, repeat.txt and big.txt are compressed in every archive.
        ASSERT_EQ(compressed_.size(), 4u);
    }

    QByteArray Input(const TMember& member) const
    {
        return ReadAll(QDir(legacy_).filePath(QStringLiteral("inputs/") + member.Name));
    }

    QString legacy_;
    std::vector<TMember> compressed_;
};

TEST_P(ForeignArchive, EveryMemberReproducesItsInput)
{
    for (const TMember& member : compressed_) {
        SCOPED_TRACE(member.Name.toStdString());
        EXPECT_EQ(member.Method, GetParam().Method);
        EXPECT_EQ(member.Flags, GetParam().Flags);
        const QByteArray expected = Input(member);
        ASSERT_EQ(static_cast<std::uint64_t>(expected.size()), member.Size);
        const QByteArray output = Decode(member.Method, member.Flags, member.Packed, member.Size);
        ASSERT_EQ(output.size(), expected.size());
        const auto mismatch = std::mismatch(output.begin(), output.end(), expected.begin());
        EXPECT_EQ(mismatch.first, output.end()) << "first difference at " << (mismatch.first - output.begin());
        EXPECT_EQ(Crc32(output), member.Crc);
        // Data handed out a byte at a time decode the same.
        if (member.Size < 30000) {
            EXPECT_EQ(Decode(member.Method, member.Flags, member.Packed, member.Size, 1), expected);
        }
    }
}

TEST_P(ForeignArchive, ShorterDeclaredSizeStopsThere)
{
    for (const TMember& member : compressed_) {
        SCOPED_TRACE(member.Name.toStdString());
        for (const std::uint64_t size : {std::uint64_t{1}, std::uint64_t{100}, member.Size / 2, member.Size - 1})
            EXPECT_EQ(Decode(member.Method, member.Flags, member.Packed, size), Input(member).left(static_cast<qsizetype>(size)));
    }
}

TEST_P(ForeignArchive, TruncatedDataRaiseErrors)
{
    for (const TMember& member : compressed_) {
        SCOPED_TRACE(member.Name.toStdString());
        const qsizetype size = member.Packed.size();
        for (const qsizetype cut : {qsizetype{0}, qsizetype{1}, qsizetype{40}, size / 2, size - 1})
            EXPECT_THROW(Decode(member.Method, member.Flags, member.Packed.left(cut), member.Size), TZipError) << cut;
        // A declared size beyond what the data hold runs them out.
        EXPECT_THROW(Decode(member.Method, member.Flags, member.Packed, member.Size + 1000), TZipError);
    }
}

TEST_P(ForeignArchive, FlippedBitsNeverCrash)
{
    std::mt19937 random(1234);
    for (const TMember& member : compressed_) {
        for (int round = 0; round < 40; ++round) {
            QByteArray damaged = member.Packed;
            for (int flip = 0; flip < 3; ++flip) {
                const auto at = static_cast<qsizetype>(random() % static_cast<std::uint32_t>(damaged.size()));
                damaged[at] = static_cast<char>(damaged[at] ^ (1 << (random() % 8)));
            }
            try {
                EXPECT_EQ(static_cast<std::uint64_t>(Decode(member.Method, member.Flags, damaged, member.Size).size()),
                          member.Size);
            } catch (const TZipError& error) {
                EXPECT_EQ(error.Text(), QStringLiteral("error"));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LegacyMethods, ForeignArchive,
                         ::testing::Values(TArchiveCase{"shrink.zip", 1, 0}, TArchiveCase{"reduce1.zip", 2, 0},
                                           TArchiveCase{"reduce2.zip", 3, 0}, TArchiveCase{"reduce3.zip", 4, 0},
                                           TArchiveCase{"reduce4.zip", 5, 0}, TArchiveCase{"implode.zip", 6, 6},
                                           TArchiveCase{"implode_8k_notree.zip", 6, 2},
                                           TArchiveCase{"implode_4k_littree.zip", 6, 4},
                                           TArchiveCase{"implode_4k_notree.zip", 6, 0}),
                         [](const ::testing::TestParamInfo<TArchiveCase>& archive) {
                             const std::string file = archive.param.File;
                             return file.substr(0, file.find('.'));
                         });

// ---------------------------------------------------------------------------------------
// Shrink: hand-made code sequences. Codes start 9 bits wide and widen after 256, 1.

QByteArray Unshrunk(std::initializer_list<std::uint32_t> codes, std::uint64_t size)
{
    TBitWriter out;
    int bits = 9;
    std::uint32_t last = 0;
    for (const std::uint32_t code : codes) {
        out.Put(code, bits);
        if (last == 256 && code == 1)
            ++bits;
        last = code;
    }
    return Decode(1, 0, out.Bytes(), size);
}

TEST(Unshrink, BuildsStringsIncludingTheOneBeingDefined)
{
    // 257 = "ab", 258 = "ba"; 259 is used as it is made: "ab" + "a".
    EXPECT_EQ(Unshrunk({'a', 'b', 257, 259}, 7), "abababa");
}

TEST(Unshrink, WidensCodesOnlyWhenTold)
{
    EXPECT_EQ(Unshrunk({'x', 256, 1, 'y', 257}, 4), "xyxy");
    EXPECT_EQ(Unshrunk({'x', 256, 1, 256, 1, 256, 1, 256, 1, 'y'}, 2), "xy");  // 13 bits
    EXPECT_THROW(Unshrunk({'x', 256, 1, 256, 1, 256, 1, 256, 1, 256, 1, 'y'}, 2), TZipError);
}

TEST(Unshrink, PartialClearFreesLeavesAndReusesTheLowestCode)
{
    // 257 "ab" is the prefix of 259 "aba" and survives; 258 "ba" and 259 are leaves and go.
    // The next entry, "ab" + "c", takes 258.
    EXPECT_EQ(Unshrunk({'a', 'b', 257, 257, 256, 2, 'c', 258, 257}, 12), "abababcabcab");
    // 259 is free after the clear and is not the next code to be made.
    EXPECT_THROW(Unshrunk({'a', 'b', 257, 257, 256, 2, 'c', 259}, 12), TZipError);
}

TEST(Unshrink, RejectsDamagedCodeSequences)
{
    EXPECT_THROW(Unshrunk({300}, 1), TZipError);        // first code not a byte
    EXPECT_THROW(Unshrunk({'a', 300}, 5), TZipError);   // unused code
    EXPECT_THROW(Unshrunk({'a', 256, 3}, 5), TZipError);  // unknown control code
    EXPECT_THROW(Unshrunk({'a', 'b'}, 3), TZipError);   // data end early
    // The clear frees 257 ("ab"), which was the previous code, and the next entry lands on
    // 257 itself: "257 + c". Using it would loop forever.
    EXPECT_THROW(Unshrunk({'a', 'b', 257, 256, 2, 'c', 257}, 100), TZipError);
}

// ---------------------------------------------------------------------------------------
// Reduce: follower sets from 255 down to 0, then the bytes; with an empty set a byte is 8
// plain bits.

TBitWriter FollowerSets(const std::vector<std::pair<int, std::string>>& sets)
{
    TBitWriter out;
    for (int j = 255; j >= 0; --j) {
        std::string followers;
        for (const auto& [byte, set] : sets) {
            if (byte == j)
                followers = set;
        }
        out.Put(static_cast<std::uint32_t>(followers.size()), 6);
        for (const char c : followers)
            out.Put(static_cast<std::uint8_t>(c), 8);
    }
    return out;
}

// Appends `length` bytes copied from `distance` back, zeros before the start.
void CopyBack(QByteArray& data, int distance, int length)
{
    for (int i = 0; i < length; ++i)
        data.append(distance > data.size() ? '\0' : data[data.size() - distance]);
}

class UnreduceFactor : public ::testing::TestWithParam<int> {};

TEST_P(UnreduceFactor, EscapesAndCopiesSplitByTheFactor)
{
    const int factor = GetParam();
    const int lengthBits = 8 - factor;
    const int lengthMask = (1 << lengthBits) - 1;
    TBitWriter out = FollowerSets({});
    QByteArray expected;
    for (int i = 0; i < 300; ++i) {
        out.Put(static_cast<std::uint32_t>(i % 100), 8);
        expected.append(static_cast<char>(i % 100));
    }
    out.Put(0x90, 8).Put(0, 8);  // an escaped escape byte
    expected.append('\x90');
    // Distance high part 1, length 2: 5 bytes from 256 + 9 + 1 back.
    out.Put(0x90, 8).Put(static_cast<std::uint32_t>((1 << lengthBits) | 2), 8).Put(9, 8);
    CopyBack(expected, 266, 5);
    // All length bits set: one more length byte; 5 back, overlapping.
    out.Put(0x90, 8).Put(static_cast<std::uint32_t>(lengthMask), 8).Put(20, 8).Put(4, 8);
    CopyBack(expected, 5, lengthMask + 20 + 3);
    EXPECT_EQ(Decode(factor + 1, 0, out.Bytes(), static_cast<std::uint64_t>(expected.size())), expected);
}

INSTANTIATE_TEST_SUITE_P(Factors, UnreduceFactor, ::testing::Values(1, 2, 3, 4));

TEST(Unreduce, FollowerSetsPickBytesByIndex)
{
    // S(0) = "xyz" (2 index bits), S('A') = "B" (1 index bit).
    TBitWriter out = FollowerSets({{0, "xyz"}, {'A', "B"}});
    out.Put(0, 1).Put(1, 2);    // after 0 (the start): index 1, 'y'
    out.Put('A', 8);            // 'y' has no followers
    out.Put(0, 1).Put(0, 1);    // 'B'
    out.Put(0, 8);              // a 0 byte
    out.Put(1, 1).Put('q', 8);  // after 0 again, but a plain byte
    EXPECT_EQ(Decode(2, 0, out.Bytes(), 5), QByteArray("yAB\0q", 5));
}

TEST(Unreduce, CopiesBeforeTheStartReadZeros)
{
    TBitWriter out = FollowerSets({});
    out.Put(0x90, 8).Put(2, 8).Put(9, 8).Put('A', 8);  // 5 bytes from 10 back
    EXPECT_EQ(Decode(2, 0, out.Bytes(), 6), QByteArray("\0\0\0\0\0A", 6));
}

TEST(Unreduce, RejectsBadSetsIndicesAndFactors)
{
    TBitWriter tooMany;
    tooMany.Put(33, 6);
    EXPECT_THROW(Decode(2, 0, tooMany.Bytes(), 1), TZipError);
    TBitWriter badIndex = FollowerSets({{0, "xyz"}});
    badIndex.Put(0, 1).Put(3, 2);
    EXPECT_THROW(Decode(2, 0, badIndex.Bytes(), 1), TZipError);
    const QByteArray valid = FollowerSets({}).Put('a', 8).Bytes();
    EXPECT_THROW(Unreduce([](std::uint8_t*, std::size_t) { return std::size_t{0}; }, [](const std::uint8_t*, std::size_t) {}, 1, 5),
                 TZipError);
    EXPECT_EQ(Decode(2, 0, valid, 1), "a");
}

// ---------------------------------------------------------------------------------------
// Implode: hand-made trees and data.

void PutTree(TBitWriter& out, const std::vector<int>& lengths)
{
    std::vector<std::uint32_t> runs;
    for (std::size_t i = 0; i < lengths.size();) {
        std::size_t n = 1;
        while (i + n < lengths.size() && n < 16 && lengths[i + n] == lengths[i])
            ++n;
        runs.push_back(static_cast<std::uint32_t>(((n - 1) << 4) | static_cast<std::size_t>(lengths[i] - 1)));
        i += n;
    }
    out.Put(static_cast<std::uint32_t>(runs.size() - 1), 8);
    for (const std::uint32_t run : runs)
        out.Put(run, 8);
}

// A code as the decoder reads it, most significant bit first.
std::string Bits(std::uint32_t value, int width)
{
    std::string bits;
    for (int i = width - 1; i >= 0; --i)
        bits += ((value >> i) & 1) ? '1' : '0';
    return bits;
}

// Writes imploded data for flags; with equal code lengths, symbol s of n has code n-1-s.
class TImploder {
public:
    explicit TImploder(std::uint16_t flags, const std::vector<int>& lengthTree = std::vector<int>(64, 6))
        : flags_(flags)
    {
        if (literalTree())
            PutTree(out, std::vector<int>(256, 8));
        PutTree(out, lengthTree);
        PutTree(out, std::vector<int>(64, 6));
    }

    void Literal(int byte)
    {
        out.Put(1, 1);
        if (literalTree())
            out.Code(Bits(static_cast<std::uint32_t>(255 - byte), 8));
        else
            out.Put(static_cast<std::uint32_t>(byte), 8);
        expected.append(static_cast<char>(byte));
    }

    // `lengthCode` is the code of the length symbol, defaulting to the flat tree's.
    void Match(int distance, int length, std::string lengthCode = {})
    {
        const int lowBits = (flags_ & 2) != 0 ? 7 : 6;
        const int symbol = std::min(length - MinimumMatch(), 63);
        out.Put(0, 1).Put(static_cast<std::uint32_t>((distance - 1) & ((1 << lowBits) - 1)), lowBits);
        out.Code(Bits(static_cast<std::uint32_t>(63 - ((distance - 1) >> lowBits)), 6));
        out.Code(lengthCode.empty() ? Bits(static_cast<std::uint32_t>(63 - symbol), 6) : lengthCode);
        if (symbol == 63)
            out.Put(static_cast<std::uint32_t>(length - MinimumMatch() - 63), 8);
        CopyBack(expected, distance, length);
    }

    int MinimumMatch() const { return literalTree() ? 3 : 2; }
    QByteArray Run() const { return Decode(6, flags_, out.Bytes(), static_cast<std::uint64_t>(expected.size())); }

    TBitWriter out;
    QByteArray expected;

private:
    bool literalTree() const { return (flags_ & 4) != 0; }
    std::uint16_t flags_;
};

class ExplodeFlags : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(ExplodeFlags, LiteralsAndMatchesUpToTheWindowSize)
{
    TImploder data(GetParam());
    for (int i = 0; i < 8300; ++i)
        data.Literal((i * 7 + i / 256) % 256);
    data.Match(200, 10);  // 6 or 7 low distance bits
    data.Match(3, 40);    // overlapping
    data.Match(1, data.MinimumMatch() + 63 + 200);  // length code 63 and its extra byte
    data.Match(290, data.MinimumMatch());
    data.Match((GetParam() & 2) != 0 ? 8192 : 4096, 9);
    EXPECT_EQ(data.Run(), data.expected);
}

INSTANTIATE_TEST_SUITE_P(WindowAndLiteralTree, ExplodeFlags, ::testing::Values(0, 2, 4, 6));

TEST(Explode, MatchesBeforeTheStartReadZeros)
{
    TImploder data(0);
    data.Match(100, 5);
    data.Literal('A');
    EXPECT_EQ(data.Run(), QByteArray("\0\0\0\0\0A", 6));
}

TEST(Explode, GivesLongerCodesToLaterSymbolsFromTheAllZeroCode)
{
    // Lengths 1..6 for symbols 0..5, 11 for 6..11, 12 for 12..63 (a complete code). Worked
    // out by hand from the note's construction: the last symbol gets twelve zeros.
    std::vector<int> lengths = {1, 2, 3, 4, 5, 6};
    lengths.resize(12, 11);
    lengths.resize(64, 12);
    const std::vector<std::pair<int, std::string>> codes = {
        {0, "1"},      {1, "01"},          {2, "001"},         {3, "0001"},           {4, "00001"},
        {5, "000001"}, {6, "00000011111"}, {11, "00000011010"}, {12, "000000110011"}, {63, "000000000000"}};
    TImploder data(0, lengths);
    for (const auto& [symbol, code] : codes) {
        data.Literal('a' + symbol % 26);
        data.Match(1, symbol + 2 + (symbol == 63 ? 5 : 0), code);
    }
    EXPECT_EQ(data.Run(), data.expected);
}

TEST(Explode, RejectsTreesThatAreNotPrefixCodes)
{
    // A literal and a match of length symbol 0 with the given code.
    const auto explodeWithLengthTree = [](const std::vector<int>& lengths, const std::string& code) {
        TImploder data(0, lengths);
        data.Literal('a');
        data.Match(1, 2, code);
        return data.Run();
    };
    EXPECT_THROW(explodeWithLengthTree(std::vector<int>(65, 6), "111111"), TZipError);  // too many codes
    EXPECT_THROW(explodeWithLengthTree(std::vector<int>(63, 6), "111111"), TZipError);  // too few
    EXPECT_THROW(explodeWithLengthTree(std::vector<int>(64, 5), "11111"), TZipError);   // 64 of 5 bits
    // 63 codes of 16 bits end off the boundary where the 2-bit code would have to start, so
    // it would come out as 00, the start of the last 16-bit code.
    std::vector<int> misaligned(64, 16);
    misaligned[0] = 2;
    EXPECT_THROW(explodeWithLengthTree(misaligned, "00"), TZipError);

    // 64 codes of 7 bits fill half the code space: a valid prefix code, but no code starts
    // with a 1.
    EXPECT_EQ(explodeWithLengthTree(std::vector<int>(64, 7), "0111111"), "aaa");
    TImploder incomplete(0, std::vector<int>(64, 7));
    incomplete.Literal('a');
    incomplete.Match(1, 2, "1000000");
    EXPECT_THROW(incomplete.Run(), TZipError);
}

// ---------------------------------------------------------------------------------------
// All methods.

struct TVariant {
    int Method;
    std::uint16_t Flags;
};
constexpr TVariant kVariants[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {6, 2}, {6, 4}, {6, 6}};

TEST(LegacyDecoders, RandomGarbageRaisesErrorsOrFillsTheSize)
{
    std::mt19937 random(99);
    for (const TVariant variant : kVariants) {
        int errors = 0;
        for (int round = 0; round < 200; ++round) {
            QByteArray garbage(static_cast<qsizetype>(random() % 700), '\0');
            for (char& byte : garbage)
                byte = static_cast<char>(random());
            try {
                EXPECT_EQ(Decode(variant.Method, variant.Flags, garbage, 3000).size(), 3000);
            } catch (const TZipError&) {
                ++errors;
            }
        }
        EXPECT_GT(errors, 0) << "method " << variant.Method;
    }
}

TEST(LegacyDecoders, ZeroSizeProducesNothing)
{
    for (const TVariant variant : kVariants) {
        EXPECT_TRUE(Decode(variant.Method, variant.Flags, QByteArray(), 0).isEmpty());
        EXPECT_TRUE(Decode(variant.Method, variant.Flags, QByteArray(64, '\xFF'), 0).isEmpty());
    }
}

}  // namespace
