#include "package/Motion.h"

#include "package/PackageLayout.h"

#include <QRegularExpression>
#include <QStringList>

#include <array>

namespace {

constexpr std::array<const char16_t*, 7> kRoleNames{u"idle", u"walk", u"sit", u"fall", u"land", u"drag", u"climb"};

// Plain decimal: digits only (a sign where allowed), few enough to stay within int.
std::optional<std::int32_t> Decimal(const QString& text, bool sign, std::int32_t low, std::int32_t high)
{
    static const QRegularExpression unsignedForm(QStringLiteral("^[0-9]{1,9}$"));
    static const QRegularExpression signedForm(QStringLiteral("^[+-]?[0-9]{1,9}$"));
    if (!(sign ? signedForm : unsignedForm).match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

struct TPart {
    const char16_t* name;
    // Reads the text into the motion; false when it cannot be read.
    bool (*read)(const QString& text, TMotion& motion);
    std::optional<QString> (*write)(const TMotion& motion);
};

template <typename T>
bool Store(std::optional<T> value, std::optional<T>& into)
{
    into = value;
    return value.has_value();
}

const std::array<TPart, 5> kParts{{
    {u"Role", [](const QString& t, TMotion& m) { return Store(ParseRole(t), m.Role); },
     [](const TMotion& m) { return m.Role ? std::optional(RoleName(*m.Role)) : std::nullopt; }},
    {u"Move", [](const QString& t, TMotion& m) { return Store(ParseMove(t), m.Move); },
     [](const TMotion& m) {
         return m.Move ? std::optional(QStringLiteral("%1 %2").arg(m.Move->Dx).arg(m.Move->Dy)) : std::nullopt;
     }},
    {u"Facing", [](const QString& t, TMotion& m) { return Store(ParseFacing(t), m.Facing); },
     [](const TMotion& m) {
         return m.Facing ? std::optional(QString::fromUtf16(*m.Facing == TFacing::Left ? u"left" : u"right"))
                         : std::nullopt;
     }},
    {u"Weight", [](const QString& t, TMotion& m) { return Store(ParseWeight(t), m.Weight); },
     [](const TMotion& m) { return m.Weight ? std::optional(QString::number(*m.Weight)) : std::nullopt; }},
    {u"Interval", [](const QString& t, TMotion& m) { return Store(ParseInterval(t), m.Interval); },
     [](const TMotion& m) { return m.Interval ? std::optional(QString::number(*m.Interval)) : std::nullopt; }},
}};

}  // namespace

std::int32_t TMotion::FrameMs() const { return Interval.value_or(kFrameMs); }

QString RoleName(TRole role) { return QString::fromUtf16(kRoleNames[static_cast<std::size_t>(role)]); }

std::optional<TRole> ParseRole(const QString& text)
{
    for (std::size_t i = 0; i < kRoleNames.size(); ++i) {
        if (text == QString::fromUtf16(kRoleNames[i]))
            return static_cast<TRole>(i);
    }
    return std::nullopt;
}

std::optional<TMove> ParseMove(const QString& text)
{
    const QStringList parts = text.split(u' ');
    if (parts.size() != 2)
        return std::nullopt;
    const auto dx = Decimal(parts[0], true, -kMaxMoveStep, kMaxMoveStep);
    const auto dy = Decimal(parts[1], true, -kMaxMoveStep, kMaxMoveStep);
    if (!dx || !dy)
        return std::nullopt;
    return TMove{*dx, *dy};
}

std::optional<TFacing> ParseFacing(const QString& text)
{
    if (text == u"left")
        return TFacing::Left;
    if (text == u"right")
        return TFacing::Right;
    return std::nullopt;
}

std::optional<std::int32_t> ParseWeight(const QString& text) { return Decimal(text, false, 0, kMaxWeight); }

std::optional<std::int32_t> ParseInterval(const QString& text)
{
    return Decimal(text, false, kMinInterval, kMaxInterval);
}

std::optional<QString> ReadMotion(const std::function<std::optional<QString>(const QString& name)>& text, TMotion& motion)
{
    QStringList unread;
    for (const TPart& part : kParts) {
        const QString name = QString::fromUtf16(part.name);
        const std::optional<QString> found = text(name);
        if (found && !part.read(*found, motion))
            unread.append(QStringLiteral("<%1> \"%2\"").arg(name, found->left(40)));
    }
    if (unread.isEmpty())
        return std::nullopt;
    return unread.join(QStringLiteral(", ")) + QStringLiteral(" cannot be read and ") +
           (unread.size() == 1 ? QStringLiteral("was") : QStringLiteral("were")) + QStringLiteral(" left out");
}

void WriteMotion(const TMotion& motion, const std::function<void(const QString& name, const QString& text)>& add)
{
    for (const TPart& part : kParts) {
        if (const std::optional<QString> text = part.write(motion))
            add(QString::fromUtf16(part.name), *text);
    }
}

QString DescribeMotion(const TMotion& motion)
{
    QStringList parts;
    WriteMotion(motion, [&](const QString& name, const QString& text) { parts.append(name.toLower() + u' ' + text); });
    return parts.join(QStringLiteral(", "));
}
