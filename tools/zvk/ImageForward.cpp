#include "Commands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// "zvk build" and "zvk import" run zvk-build, which sits beside zvk: only they need the
// image codecs and QtGui, which would cost every other command milliseconds at its start.
int Forward(const char* command, const TArguments& arguments)
{
    const QByteArray program = QFile::encodeName(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("zvk-build")));
    std::vector<QByteArray> storage{program, command};
    for (auto option = arguments.Options.cbegin(); option != arguments.Options.cend(); ++option) {
        storage.push_back(QFile::encodeName(option.key()));
        storage.push_back(QFile::encodeName(option.value()));
    }
    storage.emplace_back("--");
    for (const QString& arg : arguments.Operands)
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

}  // namespace

int BuildCommand(const TArguments& arguments)
{
    arguments.Expect(2);
    return Forward("build", arguments);
}

int ImportCommand(const TArguments& arguments)
{
    arguments.Expect(2);
    return Forward("import", arguments);
}
