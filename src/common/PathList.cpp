#include "common/PathList.h"

namespace {

bool IsBlank(QChar c) { return c.unicode() <= 32; }

QString TrimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

}  // namespace

QStringList Split(const QString& text, QChar separator, qsizetype maxPieces)
{
    QStringList result;
    const QString trimmed = TrimBlanks(text);
    qsizetype position = 0;
    while (position < trimmed.size() && (maxPieces < 0 || result.size() < maxPieces)) {
        qsizetype next = trimmed.indexOf(separator, position);
        if (next < 0)
            next = trimmed.size();
        if (next > position)
            result.append(TrimBlanks(QStringView(trimmed).sliced(position, next - position)));
        position = next + 1;
    }
    return result;
}

QString JoinPaths(const QStringList& paths)
{
    QString text;
    qsizetype length = 0;
    for (const QString& path : paths)
        length += path.size() + 1;
    text.reserve(length);
    for (const QString& path : paths) {
        text += path;
        text += u';';
    }
    return text;
}
