#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <ostream>
#include <utility>

#include <sys/resource.h>

#include <gtest/gtest.h>

// Every test works in its own temporary folder, which is also its application-data and
// configuration folder.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Native path of `name` inside the temporary folder.
    QString Path(const QString& name) const;

    QTemporaryDir temp_;
    QByteArray oldAppData_;
    QByteArray oldConfig_;
};

QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

// Makes writes beyond `bytes` fail midway, as a full disk would, even for root (file
// permissions do not stop root), until it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active() const { return active_; }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
    bool active_ = false;
};

// Runs `work` in a child process whose address space may grow by at most `megabytes`
// beyond what it had when it started, and returns whether `work` returned true there (a
// crash, an abort or an allocation failure is false). Under a sanitizer, which reserves
// address space of its own, the limit cannot be set and `work` runs here unbounded.
bool WithinMemory(std::size_t megabytes, const std::function<bool()>& work);

// The pixels of an ARGB32 image without any alpha, and those with partial alpha.
std::pair<int, int> AlphaCounts(const QImage& argb);

// A PNG chunk with its length and checksum.
QByteArray PngChunk(const char* type, const QByteArray& data);
// A PNG whose header claims `width` by `height` 8-bit RGB pixels and whose image data is a
// token: decoders that read the header first must refuse it before taking any memory.
QByteArray HeaderOnlyPng(quint32 width, quint32 height);

// A progressive JPEG of `side` square pixels of one grey in `components` components, its
// interleaved DC scan sent `scans` times: legal (a first scan with no approximation may
// come again), quick to write, and a pass over every block each time it is decoded. Its one
// DC code is a single 0 bit, no difference: zero bytes are every block's DC.
QByteArray RepeatedDcScans(int side, int components, int scans);

// The conformance data folder (tests/data, each suite with its origin and licence); empty
// when it is absent, which the tests that need it report as a failure.
QString TestDataFolder();

// The inputs a fuzz target found a fault with, kept under fuzz/regressions/<target>.
QStringList FuzzFindings(const QString& target);

// Readable failure messages for Qt's strings.
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
