#pragma once

// Shared by the targets that read a file: the input written to one file in a scratch folder
// that lives as long as the process.

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline QString WriteFuzzInput(const std::uint8_t* data, std::size_t size, const QString& name)
{
    static QTemporaryDir work;
    if (!work.isValid())
        std::abort();
    const QString path = work.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}
