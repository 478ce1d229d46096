// What every zvk program shares: arguments and console output.
#include "Commands.h"

#include <cstdio>

const QStringList& TArguments::Expect(qsizetype count) const
{
    if (Operands.size() != count)
        throw UsageError{};
    return Operands;
}

TArguments ParseArguments(const QStringList& args, const QStringList& knownOptions, const QStringList& knownFlags)
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
        if (equals < 0 && knownFlags.contains(name)) {
            parsed.Flags.append(name);
            continue;
        }
        if (!knownOptions.contains(name))
            throw UsageError{};
        if (equals >= 0)
            parsed.Options.insert(name, arg.mid(equals + 1));
        else if (i + 1 < args.size())
            parsed.Options.insert(name, args[++i]);
        else
            throw UsageError{};
    }
    return parsed;
}

QString Printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            out += QStringLiteral("\\\\");
        else if (code == u'\n')
            out += QStringLiteral("\\n");
        else if (code == u'\t')
            out += QStringLiteral("\\t");
        else if (code == u'\r')
            out += QStringLiteral("\\r");
        else if (code < 0x20 || (code >= 0x7F && code < 0xA0))
            out += QStringLiteral("\\x%1").arg(static_cast<int>(code), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
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

