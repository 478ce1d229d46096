#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class Prompts;
class TZipExtractor;

// One member as a package's directory lists it.
struct TPackageMember {
    QString Name;  // as stored, "/" between folders
    std::uint16_t Method = 0;  // compression method
    std::uint64_t CompressedSize = 0;
    std::uint64_t Size = 0;
    std::uint32_t Crc32 = 0;
    QDateTime Modified;  // the member's time stamp, local time, 2-second resolution
};

// Reads a package file (".zvk"): its directory, and its members into a folder as the
// player's cache takes them. Raises TError, with the archive's own text, when the file
// cannot be read as a package or the extraction has to stop.
class TPackageReader {
public:
    explicit TPackageReader(const QString& packagePath);
    ~TPackageReader();
    TPackageReader(const TPackageReader&) = delete;
    TPackageReader& operator=(const TPackageReader&) = delete;

    // Called to let the windows process pending messages during long work; may be empty.
    std::function<void()> ProcessMessages;
    // Where the "Zip Error" box of a member in an unknown method goes; may be null.
    Prompts* UserPrompts = nullptr;
    // Told of every member that is not written for a fault of its own or of the folder, with
    // its name as stored ("\" between folders) and the reason; may be empty.
    std::function<void(const QString& member, const QString& reason)> OnPassedOver;

    void ReadDirectory();
    // The directory read last, in directory order.
    QList<TPackageMember> Members() const;
    // Whether the package holds a member of this name at its root.
    bool HoldsMember(const QString& name) const;
    // MD5 of the directory's records, hex: names, methods, times, CRCs, sizes, attributes
    // and offsets of the members. Equal for two files of the same content.
    QString DirectoryDigest() const;

    // Extracts every member whose name holds a "." into `folder` (made with any missing
    // parent), recreating the members' folders; an existing file is replaced only by a
    // newer member. Returns the number of members extracted.
    int ExtractInto(const QString& folder);

private:
    std::unique_ptr<TZipExtractor> zip_;
};
