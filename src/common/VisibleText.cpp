#include "common/VisibleText.h"

namespace {

bool Hides(char16_t c)
{
    if (c == u'\n')
        return false;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return true;
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

QString VisibleText(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (Hides(c.unicode()))
            shown += QStringLiteral("\\u{%1}").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
