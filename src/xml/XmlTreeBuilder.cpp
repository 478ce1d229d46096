#include "xml/XmlTreeBuilder.h"

void TXmlTreeBuilder::Take(QXmlStreamReader& reader, QXmlStreamReader::TokenType token)
{
    switch (token) {
    case QXmlStreamReader::StartDocument:
        data_.version = reader.documentVersion().toString();
        break;
    case QXmlStreamReader::StartElement:
        StartElement(reader);
        break;
    case QXmlStreamReader::EndElement:
        open_.pop_back();
        break;
    case QXmlStreamReader::Characters:
        Characters(reader);
        break;
    case QXmlStreamReader::Comment:
        Append(data_.NewNode(TXmlNode::Kind::Comment, {}, reader.text().toString()));
        break;
    case QXmlStreamReader::ProcessingInstruction:
        Append(data_.NewNode(TXmlNode::Kind::ProcessingInstruction, reader.processingInstructionTarget().toString(),
                             reader.processingInstructionData().toString()));
        break;
    case QXmlStreamReader::EntityReference:
        // Entities beyond the five predefined ones are not supported.
        reader.raiseError(QStringLiteral("Unsupported entity &%1;").arg(reader.name()));
        break;
    default:
        break;
    }
}

void TXmlTreeBuilder::StartElement(const QXmlStreamReader& reader)
{
    TXmlNodeData* element = data_.NewNode(TXmlNode::Kind::Element, NameOf(reader.name()));
    const QXmlStreamAttributes attributes = reader.attributes();
    element->attributes.reserve(static_cast<std::size_t>(attributes.size()));
    for (const QXmlStreamAttribute& attribute : attributes)
        element->attributes.emplace_back(attribute.qualifiedName().toString(), attribute.value().toString());
    if (open_.empty())
        data_.root = element;
    Append(element);
    open_.push_back(element);
}

void TXmlTreeBuilder::Characters(const QXmlStreamReader& reader)
{
    if (reader.isCDATA()) {
        Append(data_.NewNode(TXmlNode::Kind::CData, {}, reader.text().toString()));
    } else if (!reader.isWhitespace() && !open_.empty()) {
        // The reader may hand one run of text over in pieces; it is one node.
        TXmlNodeData* current = open_.back();
        if (current->lastChild != nullptr && current->lastChild->kind == TXmlNode::Kind::Text)
            current->lastChild->value += reader.text();
        else
            Append(data_.NewNode(TXmlNode::Kind::Text, {}, reader.text().toString()));
    }
}

// Elements mostly repeat a few names; sharing their strings saves an allocation each.
QString TXmlTreeBuilder::NameOf(QStringView name)
{
    for (const QString& known : names_) {
        if (known == name)
            return known;
    }
    QString added = name.toString();
    if (names_.size() < 64)
        names_.push_back(added);
    return added;
}
