#include "xml/XmlLimits.h"

#include "xml/XmlError.h"

#include <QByteArrayView>

namespace {

// The most attributes any one start tag holds, counted as the "=" between its name-value
// pairs. Qt's reader checks each attribute against all before it, so a tag of many
// thousand attributes must be refused before Qt sees it.
bool AttributesWithin(const QByteArray& bytes, int limit)
{
    enum class State { Text, Tag, Quoted, Skipped };
    State state = State::Text;
    char quote = 0;
    QByteArrayView end;  // what ends a skipped comment, section or instruction
    int count = 0;
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        switch (state) {
        case State::Text:
            if (c != '<')
                break;
            state = State::Skipped;
            if (QByteArrayView(data + i, size - i).startsWith("<!--")) {
                end = "-->";
            } else if (QByteArrayView(data + i, size - i).startsWith("<![CDATA[")) {
                end = "]]>";
            } else if (QByteArrayView(data + i, size - i).startsWith("<?")) {
                end = "?>";
            } else {
                state = State::Tag;
                count = 0;
            }
            break;
        case State::Tag:
            if (c == '"' || c == '\'') {
                state = State::Quoted;
                quote = c;
            } else if (c == '=' && ++count > limit) {
                return false;
            } else if (c == '>') {
                state = State::Text;
            }
            break;
        case State::Quoted:
            if (c == quote)
                state = State::Tag;
            break;
        case State::Skipped:
            if (c == end.front() && QByteArrayView(data + i, size - i).startsWith(end)) {
                i += end.size() - 1;
                state = State::Text;
            }
            break;
        }
    }
    return true;
}

}  // namespace

void CheckXmlSize(qint64 size, const QString& source, const TXmlLimits& limits)
{
    if (size > limits.MaxBytes)
        throw TXmlError(QStringLiteral("%1: larger than %2 MiB").arg(source).arg(limits.MaxBytes >> 20));
}

void CheckXmlInput(const QByteArray& bytes, const QString& source, const TXmlLimits& limits)
{
    CheckXmlSize(bytes.size(), source, limits);
    if (!AttributesWithin(bytes, limits.MaxAttributes))
        throw TXmlError(QStringLiteral("%1: an element has more than %2 attributes").arg(source).arg(limits.MaxAttributes));
}

QString TXmlReadBudget::Exceeded(QXmlStreamReader::TokenType token, int depth)
{
    if (token == QXmlStreamReader::StartElement || token == QXmlStreamReader::Characters ||
        token == QXmlStreamReader::Comment || token == QXmlStreamReader::ProcessingInstruction) {
        if (++nodes_ > limits_.MaxNodes)
            return QStringLiteral("more than %1 nodes").arg(limits_.MaxNodes);
    }
    if (token == QXmlStreamReader::StartElement && depth >= limits_.MaxDepth)
        return QStringLiteral("elements nested deeper than %1").arg(limits_.MaxDepth);
    return {};
}
