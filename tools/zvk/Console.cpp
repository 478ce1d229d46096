// What every zvk program shares: arguments and console output.
#include "Commands.h"

#include <cstdio>

const QStringList& TArguments::Expect(qsizetype count) const
{
    if (Operands.size() != count)
        throw UsageError{};
    return Operands;
}

TArguments ParseArguments(const QStringList& args, const QStringList& knownOptions)
{
    TArguments parsed;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == u"--") {
            parsed.Operands += args.mid(i + 1);
            break;
        }
        if (!arg.startsWith(QStringLiteral("--"))) {
            parsed.Operands.append(arg);
            continue;
        }
        // "--name value" or "--name=value"
        const qsizetype equals = arg.indexOf(u'=');
        const QString name = equals < 0 ? arg : arg.left(equals);
        if (!knownOptions.contains(name))
            throw UsageError{};
        if (equals >= 0)
            parsed.Options[name] = arg.mid(equals + 1);
        else if (i + 1 < args.size())
            parsed.Options[name] = args[++i];
        else
            throw UsageError{};
    }
    return parsed;
}

void PrintOut(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

void PrintErr(const QString& line)
{
    std::fflush(stdout);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

