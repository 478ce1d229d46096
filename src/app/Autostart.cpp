#include "app/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// Why `program` cannot be the entry's command, if it cannot: a line break would end the
// line and begin keys of its own, other control characters have no escape in an entry, and
// the program's path may not hold "=".
std::optional<QString> UnfitForExec(const QString& program)
{
    for (const QChar c : program) {
        if (c == u'\n' || c == u'\r')
            return QStringLiteral("a line break");
        if (c.category() == QChar::Other_Control && c != u'\t')
            return QStringLiteral("a control character");
        if (c == u'=')
            return QStringLiteral("\"=\"");
    }
    return std::nullopt;
}

// One argument of Exec as freedesktop.org's desktop entries take it: "%" doubled, as it begins
// a field code; an argument with a reserved character in double quotes, with `"`, `` ` ``,
// `$` and `\` escaped by a backslash.
QString ExecArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString text = argument;
    text.replace(u'%', QStringLiteral("%%"));
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return reserved.contains(c); }))
        return text;
    QString quoted;
    for (const QChar c : text) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

// Exec's value is a string, whose own escapes come on top: each backslash doubled, a tab
// written as "\t".
QString EscapedString(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\t', QStringLiteral("\\t"));
    return value;
}

}  // namespace

QString AutostartFilePath()
{
    const QDir config(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return QDir::toNativeSeparators(config.filePath(QStringLiteral("autostart/org.zuvora.zuvora.desktop")));
}

bool StartsWithDesktop() { return QFileInfo(AutostartFilePath()).isFile(); }

QByteArray AutostartEntry(const QString& program)
{
    if (UnfitForExec(program))
        return {};
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Zuvora\n"
                             "Comment=Bring back the pets that played when Zuvora last closed\n"
                             "Exec=") +
           EscapedString(ExecArgument(program) + QStringLiteral(" --restore")).toUtf8() +
           QByteArrayLiteral("\n"
                             "Icon=org.zuvora.zuvora\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n");
}

std::optional<QString> SetStartWithDesktop(bool on, const QString& program)
{
    const QString path = AutostartFilePath();
    if (!on) {
        QFile file(path);
        if (file.exists() && !file.remove())
            return QStringLiteral("%1 could not be removed: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (const std::optional<QString> unfit = UnfitForExec(program))
        return QStringLiteral("Zuvora cannot start with the desktop from \"%1\": its path holds %2.").arg(program, *unfit);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("%1 could not be made").arg(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(AutostartEntry(program)) < 0 || !file.commit())
        return QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    return std::nullopt;
}
