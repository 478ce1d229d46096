// libFuzzer target: any bytes as an XML document, parsed within the manifest's limits and
// walked through as the readers walk it.

#include "xml/XmlDocument.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

int Walk(TXmlNode node, int depth)
{
    int texts = 0;
    const TXmlNodeList children = TXmlDocument::ChildNodes(node);
    for (int i = 0; i < children.count(); ++i) {
        const TXmlNode child = children.at(i);
        try {
            texts += static_cast<int>(TXmlDocument::Text(child).size());
        } catch (const TXmlError&) {
        }
        if (child.IsElement() && depth < 100)
            texts += Walk(child, depth + 1);
    }
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const TXmlDocument document = TXmlDocument::Parse(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
        Walk(document.DocumentElement(), 0);
        document.ToBytes();
    } catch (const TXmlError&) {
        // Malformed or past the limits: expected.
    }
    return 0;
}
