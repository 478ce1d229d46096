#include "package/PackageReader.h"

#include "archive/DosTime.h"
#include "archive/ZipExtractor.h"

#include <QCryptographicHash>

#include <algorithm>

TPackageReader::TPackageReader(const QString& packagePath) : zip_(std::make_unique<TZipExtractor>())
{
    zip_->ZipName = packagePath;
}

TPackageReader::~TPackageReader() = default;

void TPackageReader::ReadDirectory()
{
    zip_->ProcessMessages = ProcessMessages;
    zip_->ReadDirectory();
}

QList<TPackageMember> TPackageReader::Members() const
{
    QList<TPackageMember> members;
    for (const TZipEntry& entry : zip_->Entries()) {
        TPackageMember& member = members.emplaceBack();
        member.Name = entry.FolderPart + entry.FileName;
        member.Name.replace(u'\\', u'/');
        member.Method = entry.Method;
        member.CompressedSize = entry.CompressedSize;
        member.Size = entry.UncompressedSize;
        member.Crc32 = entry.Crc32;
        member.Modified = FromDosDateTime({entry.DosTime, entry.DosDate});
    }
    return members;
}

bool TPackageReader::HoldsMember(const QString& name) const
{
    return std::any_of(zip_->Entries().begin(), zip_->Entries().end(), [&name](const TZipEntry& entry) {
        return entry.FolderPart.isEmpty() && entry.FileName == name;
    });
}

QString TPackageReader::DirectoryDigest() const
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const TZipEntry& entry : zip_->Entries()) {
        hash.addData((entry.FolderPart + entry.FileName).toUtf8());
        hash.addData(QStringLiteral("\n%1 %2 %3 %4 %5 %6 %7 %8\n")
                         .arg(entry.Method)
                         .arg(entry.DosDate)
                         .arg(entry.DosTime)
                         .arg(entry.Crc32)
                         .arg(entry.CompressedSize)
                         .arg(entry.UncompressedSize)
                         .arg(entry.ExternalAttributes)
                         .arg(entry.LocalHeaderOffset)
                         .toLatin1());
    }
    return QString::fromLatin1(hash.result().toHex());
}

int TPackageReader::ExtractInto(const QString& folder)
{
    zip_->ProcessMessages = ProcessMessages;
    zip_->UserPrompts = UserPrompts;
    zip_->OnPassedOver = [this](const TZipEntry& entry, const QString& reason) {
        if (OnPassedOver)
            OnPassedOver(entry.FolderPart + entry.FileName, reason);
    };
    // Selected by the wildcard "*.*": a member without a dot in its name stays out.
    zip_->FilesList = {QStringLiteral("*.*")};
    zip_->DoAll = false;
    zip_->DestDir = folder;
    zip_->OverwriteMode = TOverwriteMode::ifNewer;
    zip_->RecreateDirs = true;
    zip_->RetainAttributes = true;
    return zip_->ExtractSelected();
}
