#pragma once

#include "package/Zvk.h"

#include <QString>

#include <functional>

class Prompts;

// A package is played from a cache folder of its own: application-data folder, "Zuvora",
// then the MD5 digest of the package path. The folder persists between runs, so a package
// is extracted in full once and afterwards only for members newer than the cached files.

// 32 lower-case hexadecimal digits: MD5 of the path's UTF-8 bytes exactly as given.
QString PathDigest(const QString& packagePath);

// The folder that holds every cache folder (native path).
QString CacheRoot();

// Extracts the whole package into `destination`, replacing only files older than their
// members. Any archive error is shown as "UnComPress File Error!" and gives false.
bool ExtractPackage(const QString& packagePath, const QString& destination, Prompts& prompts,
                    const std::function<void()>& processMessages = {});

struct TCacheResult {
    QString Folder;         // always formed, whatever the extraction did
    bool Extracted = false;
};
TCacheResult PrepareCache(const QString& packagePath, Prompts& prompts,
                          const std::function<void()>& processMessages = {});
