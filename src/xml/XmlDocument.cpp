#include "xml/XmlDocument.h"

#include "xml/XmlTree.h"
#include "xml/XmlTreeBuilder.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cerrno>

namespace {

TXmlNodeData* Require(TXmlNodeData* node)
{
    if (node == nullptr)
        throw TXmlError(QStringLiteral("Null node"));
    return node;
}

// Only elements hold child elements. A lookup under any other node raises the same text as
// an addition would: the reader of a damaged manifest gives it as its reason.
TXmlNodeData* RequireElement(TXmlNodeData* node, const QString& childName)
{
    if (Require(node)->kind != TXmlNode::Kind::Element)
        throw TXmlError(QStringLiteral("Cannot add <%1> to a node that is no element").arg(childName));
    return node;
}

void WriteNode(QXmlStreamWriter& writer, const TXmlNodeData& node)
{
    switch (node.kind) {
    case TXmlNode::Kind::Element:
        // An element without content comes out as <name/>.
        writer.writeStartElement(node.name);
        for (const auto& [name, value] : node.attributes)
            writer.writeAttribute(name, value);
        for (const TXmlNodeData* child = node.firstChild; child != nullptr; child = child->nextSibling)
            WriteNode(writer, *child);
        writer.writeEndElement();
        break;
    case TXmlNode::Kind::Text:
        writer.writeCharacters(node.value);
        break;
    case TXmlNode::Kind::CData:
        writer.writeCDATA(node.value);
        break;
    case TXmlNode::Kind::Comment:
        writer.writeComment(node.value);
        break;
    case TXmlNode::Kind::ProcessingInstruction:
        writer.writeProcessingInstruction(node.name, node.value);
        break;
    }
}

}  // namespace

TXmlNode::Kind TXmlNode::NodeKind() const { return Require(node_)->kind; }

QString TXmlNode::Name() const { return node_ != nullptr ? node_->name : QString(); }

QString TXmlNode::Value() const { return node_ != nullptr ? node_->value : QString(); }

QString TXmlNode::Attribute(const QString& name) const
{
    if (node_ != nullptr) {
        for (const auto& [key, value] : node_->attributes) {
            if (key == name)
                return value;
        }
    }
    return {};
}

int TXmlNode::AttributeCount() const { return node_ != nullptr ? static_cast<int>(node_->attributes.size()) : 0; }

int TXmlNode::ChildCount() const { return node_ != nullptr ? node_->childCount : 0; }

TXmlNodeList::TXmlNodeList(TXmlNodeData* parent)
{
    if (parent == nullptr)
        return;
    nodes_.reserve(static_cast<std::size_t>(parent->childCount));
    for (TXmlNodeData* child = parent->firstChild; child != nullptr; child = child->nextSibling)
        nodes_.push_back(child);
}

TXmlNode TXmlNodeList::at(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return TXmlNode(nodes_[static_cast<std::size_t>(index)]);
}

TXmlDocument::TXmlDocument(const QString& version) : data_(std::make_unique<TXmlDocumentData>())
{
    data_->version = version;
}

TXmlDocument::~TXmlDocument() = default;
TXmlDocument::TXmlDocument(TXmlDocument&&) noexcept = default;
TXmlDocument& TXmlDocument::operator=(TXmlDocument&&) noexcept = default;

TXmlDocument TXmlDocument::Load(const QString& path, const TXmlLimits& limits)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TXmlError(path + QStringLiteral(": ") + file.errorString());
    // The size first, then at most one byte more than it: a file that grows meanwhile is
    // caught too, and the buffer is never larger than the file.
    const qint64 size = file.size();
    CheckXmlSize(size, path, limits);
    const QByteArray bytes = file.read(size + 1);
    CheckXmlSize(bytes.size(), path, limits);
    return Parse(bytes, path, limits);
}

TXmlDocument TXmlDocument::Parse(const QByteArray& bytes, const QString& source, const TXmlLimits& limits)
{
    CheckXmlInput(bytes, source, limits);
    TXmlDocument document(QString{});
    TXmlTreeBuilder builder(*document.data_);
    TXmlReadBudget budget(limits);
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (const QString exceeded = budget.Exceeded(token, builder.Depth()); !exceeded.isEmpty()) {
            reader.raiseError(exceeded);
            break;
        }
        builder.Take(reader, token);
    }
    if (reader.hasError()) {
        throw TXmlError(QStringLiteral("%1:%2:%3: %4")
                            .arg(source)
                            .arg(reader.lineNumber())
                            .arg(reader.columnNumber())
                            .arg(reader.errorString()));
    }
    if (document.data_->root == nullptr)
        throw TXmlError(source + QStringLiteral(": no root element"));
    return document;
}

void TXmlDocument::SetEncoding(const QString& encoding)
{
    if (encoding.compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) != 0)
        throw TXmlError(QStringLiteral("Unsupported encoding: ") + encoding);
    data_->encoding = QStringLiteral("UTF-8");
}

TXmlNode TXmlDocument::AddDocumentElement(const QString& name)
{
    if (data_->root != nullptr)
        throw TXmlError(QStringLiteral("The document already has a root element"));
    data_->root = data_->NewNode(TXmlNode::Kind::Element, name);
    return TXmlNode(data_->root);
}

TXmlNode TXmlDocument::DocumentElement() const
{
    if (data_->root == nullptr)
        throw TXmlError(QStringLiteral("The document has no root element"));
    return TXmlNode(data_->root);
}

QByteArray TXmlDocument::ToBytes() const
{
    QByteArray bytes;
    if (!data_->version.isEmpty())
        bytes = QStringLiteral("<?xml version=\"%1\" encoding=\"%2\"?>").arg(data_->version, data_->encoding).toUtf8();
    if (data_->root != nullptr) {
        QByteArray body;
        QXmlStreamWriter writer(&body);
        WriteNode(writer, *data_->root);
        bytes += body;
    }
    return bytes;
}

void TXmlDocument::Save(const QString& path) const
{
    // Unbuffered, so that a short write (a full disk) shows in write()'s result; a buffered
    // QSaveFile can commit a truncated file when its final flush comes up short.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw TXmlError(file.errorString());
    const QByteArray bytes = ToBytes();
    if (file.write(bytes) != bytes.size()) {
        const int code = errno;
        throw TXmlError(file.error() != QFileDevice::NoError ? file.errorString() : qt_error_string(code));
    }
    if (!file.commit())
        throw TXmlError(file.errorString());
}

TXmlNode TXmlDocument::AddChild(TXmlNode node, const QString& name)
{
    TXmlNodeData* parent = RequireElement(node.node_, name);
    TXmlNodeData* child = parent->owner->NewNode(TXmlNode::Kind::Element, name);
    parent->Append(child);
    return TXmlNode(child);
}

void TXmlDocument::SetAttribute(TXmlNode element, const QString& name, const QString& text)
{
    TXmlNodeData* node = Require(element.node_);
    for (auto& [key, value] : node->attributes) {
        if (key == name) {
            value = text;
            return;
        }
    }
    node->attributes.emplace_back(name, text);
}

void TXmlDocument::SetText(TXmlNode element, const QString& text)
{
    TXmlNodeData* node = Require(element.node_);
    // The old children stay in the document's blocks, unreachable, until it is released.
    node->firstChild = node->lastChild = nullptr;
    node->childCount = 0;
    node->Append(node->owner->NewNode(TXmlNode::Kind::Text, {}, text));
}

TXmlNodeList TXmlDocument::ChildNodes(TXmlNode node) { return TXmlNodeList(node.node_); }

TXmlNode TXmlDocument::ChildByIndex(const TXmlNodeList& list, int index)
{
    if (index < 0 || index >= list.count())
        throw TXmlError(QStringLiteral("Child index %1 out of range (%2 children)").arg(index).arg(list.count()));
    return list.at(index);
}

TXmlNode TXmlDocument::ChildByName(TXmlNode node, const QString& name)
{
    if (node.node_ == nullptr)
        return {};
    const TXmlNodeData* parent = RequireElement(node.node_, name);
    for (TXmlNodeData* child = parent->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->kind == TXmlNode::Kind::Element && child->name == name)
            return TXmlNode(child);
    }
    return {};
}

QString TXmlDocument::Text(TXmlNode node)
{
    if (node.node_ == nullptr)
        return {};
    const TXmlNodeData* data = node.node_;
    if (data->kind != TXmlNode::Kind::Element)
        return data->value;
    const TXmlNodeData* only = data->firstChild;
    if (only == nullptr)
        return {};
    if (data->childCount == 1 && (only->kind == TXmlNode::Kind::Text || only->kind == TXmlNode::Kind::CData))
        return only->value;
    throw TXmlError(QStringLiteral("Element <%1> holds more than text").arg(data->name));
}
