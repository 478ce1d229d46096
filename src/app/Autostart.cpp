#include "app/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The desktop entry specification's quoting: a path with a space, quote or other reserved
// character is written in double quotes, with `"`, `` ` ``, `$` and `\` escaped.
QString QuotedArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::none_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
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
    // Exec's value is itself escaped once more as a string: each backslash doubled.
    QString exec = QuotedArgument(program) + QStringLiteral(" --restore");
    exec.replace(u'\\', QStringLiteral("\\\\"));
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Zuvora\n"
                             "Comment=Bring back the pets that played when Zuvora last closed\n"
                             "Exec=") +
           exec.toUtf8() +
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
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("%1 could not be made").arg(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(AutostartEntry(program)) < 0 || !file.commit())
        return QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    return std::nullopt;
}
