#include "package/Manifest.h"

#include "common/Error.h"
#include "package/PackageLayout.h"
#include "xml/XmlDocument.h"

std::optional<std::int32_t> ParseManifestInteger(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return std::nullopt;  // no digits

    constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // magnitude of INT32_MIN
    std::int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * base + digit;
        if (value > kLimit)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

namespace {

std::int32_t IntegerOf(TXmlNode node, const QString& name)
{
    const std::optional<std::int32_t> value = ParseManifestInteger(TXmlDocument::Text(TXmlDocument::ChildByName(node, name)));
    if (!value)
        throw TXmlError(QStringLiteral("<%1> is not an integer").arg(name));
    return *value;
}

}  // namespace

std::optional<QString> ReadManifest(const QString& manifestPath, TZvk& zvk)
{
    try {
        const TXmlDocument document = TXmlDocument::Load(manifestPath);
        const TXmlNodeList actions = TXmlDocument::ChildNodes(document.DocumentElement());
        std::int64_t framesRead = 0;
        std::optional<QString> unread;
        for (int i = 0; i < actions.count(); ++i) {
            if (i >= kMaxPackageActions)
                throw TXmlError(QStringLiteral("the manifest holds more than %1 actions").arg(kMaxPackageActions));
            TXmlNode node = TXmlDocument::ChildByIndex(actions, i);
            if (node.ChildCount() == 0)
                throw TXmlError(QStringLiteral("Action %1 is empty").arg(i));

            TAction action;
            action.Index = i;
            action.Name = TXmlDocument::Text(TXmlDocument::ChildByName(node, kNameElement));

            const TXmlNodeList frames = TXmlDocument::ChildNodes(TXmlDocument::ChildByName(node, kFragmentsElement));
            framesRead += frames.count();
            if (framesRead > kMaxPackageFrames)
                throw TXmlError(QStringLiteral("the manifest holds more than %1 frames").arg(kMaxPackageFrames));
            for (int f = 0; f < frames.count(); ++f) {
                TXmlNode frameNode = TXmlDocument::ChildByIndex(frames, f);
                TFrame frame;
                frame.Index = IntegerOf(frameNode, kIndexElement);
                frame.Top = IntegerOf(frameNode, kTopElement);
                frame.Left = IntegerOf(frameNode, kLeftElement);
                frame.Width = IntegerOf(frameNode, kWidthElement);
                frame.Height = IntegerOf(frameNode, kHeightElement);
                action.Frames.push_back(frame);
            }

            const TXmlNodeList audios = TXmlDocument::ChildNodes(TXmlDocument::ChildByName(node, kAudiosElement));
            for (int a = 0; a < audios.count(); ++a)
                action.AudioFiles.append(TXmlDocument::Text(TXmlDocument::ChildByIndex(audios, a)));

            const auto motionText = [&](const QString& name) -> std::optional<QString> {
                const TXmlNode part = TXmlDocument::ChildByName(node, name);
                return part.IsNull() ? std::nullopt : std::optional(TXmlDocument::Text(part));
            };
            // A part that cannot be read is left out; the rest of the package plays.
            if (const std::optional<QString> problem = ReadMotion(motionText, action.Motion); problem && !unread)
                unread = QStringLiteral("Action %1: %2").arg(i).arg(*problem);

            zvk.Actions.push_back(std::move(action));
        }
        if (unread)
            return unread;
    } catch (const TError& error) {
        // A damaged manifest plays what was read before the damage; the action in progress
        // is dropped with its local variable.
        return error.Text();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("there is not enough memory to read the manifest");
    }
    return std::nullopt;
}

void WriteManifest(const TZvk& zvk, const QString& manifestPath)
{
    TXmlDocument manifest(QStringLiteral("1.0"));
    manifest.SetEncoding(QStringLiteral("UTF-8"));
    TXmlNode root = manifest.AddDocumentElement(kRootElement);
    TXmlDocument::SetAttribute(root, kVersionAttribute, kFormatVersion);
    const auto addText = [](TXmlNode parent, const QString& name, const QString& text) {
        TXmlDocument::SetText(TXmlDocument::AddChild(parent, name), text);
    };
    for (const TAction& action : zvk.Actions) {
        TXmlNode element = TXmlDocument::AddChild(root, kActionElement);
        addText(element, kNameElement, action.Name);
        TXmlNode framesNode = TXmlDocument::AddChild(element, kFragmentsElement);
        for (const TFrame& frame : action.Frames) {
            TXmlNode frameNode = TXmlDocument::AddChild(framesNode, kFragmentElement);
            addText(frameNode, kIndexElement, QString::number(frame.Index));
            addText(frameNode, kTopElement, QString::number(frame.Top));
            addText(frameNode, kLeftElement, QString::number(frame.Left));
            addText(frameNode, kWidthElement, QString::number(frame.Width));
            addText(frameNode, kHeightElement, QString::number(frame.Height));
        }
        TXmlNode audios = TXmlDocument::AddChild(element, kAudiosElement);
        for (const QString& audio : action.AudioFiles)
            addText(audios, kAudioElement, audio);
        WriteMotion(action.Motion, [&](const QString& name, const QString& text) { addText(element, name, text); });
    }
    manifest.Save(manifestPath);
}
