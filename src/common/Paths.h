#pragma once

#include <QString>

// Paths in the library and project files keep the stored form of the formats: "\" as the
// separator and an optional drive ("C:"). Readers accept "/" as well. Paths are turned into
// native ones only where they meet the file system.

// The longest path the platform accepts, terminating zero included.
int MaxPathLength();

// "C:" for a path that begins with a drive letter and a colon, else empty.
QString DrivePart(const QString& path);

// Joins a folder and a stored path: a path with a drive is taken unchanged, one that begins
// with a single "\" goes on the folder's drive, any other is appended to the folder. Then
// "." components are dropped and each ".." removes the component before it. A result that
// does not fit in the platform's path limit gives the empty path.
QString CombinePath(const QString& folder, const QString& stored);

// The path of `file` relative to the folder of `baseFile`: "..\" once for every folder
// level to climb, then the folders to descend into, then the file name. A file on another
// drive comes back unchanged.
QString RelativePath(const QString& baseFile, const QString& file);

// File-name parts of a stored or native path. The file name is everything after the last
// separator (or after a drive's colon); the folder part is everything up to and including
// it; the extension is the file name's part from its last "." on (empty without one).
QString ExtractFileName(const QString& path);
QString ExtractFilePath(const QString& path);
QString ExtractFileExt(const QString& path);

// Conversion at the file-system boundary. This platform has no drives, so a stored drive is
// dropped on the way in.
QString StoredToNative(const QString& stored);
QString NativeToStored(const QString& native);
