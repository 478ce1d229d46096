#include "Commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

// "zvk build" runs zvk-build, which sits beside zvk: only building needs the image
// decoders and QtGui, which would cost every other command milliseconds at its start.
int BuildCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    const QByteArray program = QFile::encodeName(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("zvk-build")));
    std::vector<QByteArray> storage{program};
    for (const QString& arg : args)
        storage.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::execv(program.constData(), argv.data());
    PrintErr(QStringLiteral("zvk: cannot run %1: %2").arg(QFile::decodeName(program), QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}
