#pragma once

#include <QString>

#include <functional>

// Writes a package file (".zvk") from a folder, as the packer packs its work folder: every
// file at any depth, hidden and read-only ones included, deflated under its bare name. The
// package is written beside its place and renamed into it, so a failed write leaves the
// file that was there.
class TPackageWriter {
public:
    // Called to let the windows process pending messages between members; may be empty.
    std::function<void()> ProcessMessages;

    // Returns the number of files added. Raises TError when the package cannot be written,
    // or when its path is a link, which is never written through.
    int Write(const QString& folder, const QString& packagePath) const;
};
