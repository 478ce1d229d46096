// zvk-build PROJECT PACKAGE: the build behind "zvk build", in a program of its own.

#include "Commands.h"

#include "common/Error.h"

#include <QCoreApplication>

#include <exception>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    try {
        return BuildCommand(ParseArguments(QCoreApplication::arguments().mid(1), {}));
    } catch (const UsageError&) {
        PrintErr(QStringLiteral("Usage: zvk build PROJECT PACKAGE"));
        return 2;
    } catch (const TError& error) {
        PrintErr(error.Text());
    } catch (const std::exception& error) {
        PrintErr(QString::fromLocal8Bit(error.what()));
    }
    return 1;
}
