// zvk-build build|import ARGUMENTS: the commands of zvk that need the image codecs, in a
// program of their own.

#include "Commands.h"

#include "common/Error.h"

#include <QCoreApplication>

#include <exception>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    try {
        if (command == u"build")
            return BuildCommand(ParseArguments(args, {}));
        if (command == u"import")
            return ImportCommand(ParseArguments(args, kImportOptions));
        throw UsageError{};
    } catch (const UsageError&) {
        PrintErr(QStringLiteral("Usage: zvk build PROJECT PACKAGE\n       zvk import FILE PROJECT [--action NAME] "
                                "[--grid COLSxROWS | --cell WxH] [--role ROLE] [--move DX,DY]\n"
                                "       [--facing left|right] [--interval MS]"));
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
