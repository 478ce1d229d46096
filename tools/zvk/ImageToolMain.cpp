// zvk-build build|import ARGUMENTS: the commands of zvk that need the image codecs, in a
// program of their own.

#include "Commands.h"

#include "common/Error.h"

#include <QCoreApplication>

#include <exception>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: zvk-build build PROJECT PACKAGE\n       zvk-build import FILE PROJECT [--action NAME] [--grid COLSxROWS | "
    "--cell WxH] [--role ROLE] [--move DX,DY]\n       [--facing left|right] [--interval MS]");

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (args.isEmpty() && (command == u"--help" || command == u"-h")) {
        PrintOut(kUsage + QStringLiteral("\n\nThe commands of zvk that read and write images, in a program of their "
                                         "own; zvk hands them over. See zvk --help."));
        return 0;
    }
    if (args.isEmpty() && (command == u"--version" || command == u"-v")) {
        PrintOut(QStringLiteral("zvk-build 1.0"));
        return 0;
    }
    try {
        if (command == u"build")
            return BuildCommand(ParseArguments(args, {}));
        if (command == u"import")
            return ImportCommand(ParseArguments(args, kImportOptions));
        throw UsageError{};
    } catch (const UsageError&) {
        PrintErr(kUsage);
        return 2;
    } catch (const TError& error) {
        PrintErr(error.Text());
    } catch (const std::bad_alloc&) {
        PrintErr(QStringLiteral("There is not enough memory."));
    } catch (const std::exception& error) {
        PrintErr(QString::fromLocal8Bit(error.what()));
    }
    return 1;
}
