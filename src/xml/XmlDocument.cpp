#include "xml/XmlDocument.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cerrno>

struct TXmlNodeData {
    TXmlNode::Kind kind = TXmlNode::Kind::Element;
    QString name;
    QString value;
    std::vector<std::pair<QString, QString>> attributes;
    // Children as a linked list: no allocation per node beyond the node itself.
    TXmlNodeData* firstChild = nullptr;
    TXmlNodeData* lastChild = nullptr;
    TXmlNodeData* nextSibling = nullptr;
    int childCount = 0;
    TXmlDocumentData* owner = nullptr;

    void Append(TXmlNodeData* child)
    {
        (lastChild != nullptr ? lastChild->nextSibling : firstChild) = child;
        lastChild = child;
        ++childCount;
    }
};

struct TXmlDocumentData {
    static constexpr std::size_t kBlockSize = 1024;

    QString version;
    QString encoding = QStringLiteral("UTF-8");
    // Nodes live in blocks that never move, so handles stay valid and a large document
    // costs a few allocations rather than one per node.
    std::vector<std::unique_ptr<TXmlNodeData[]>> blocks;
    std::size_t usedInLastBlock = kBlockSize;
    TXmlNodeData* root = nullptr;

    TXmlNodeData* NewNode(TXmlNode::Kind kind, QString name, QString value = {})
    {
        if (usedInLastBlock == kBlockSize) {
            blocks.push_back(std::make_unique<TXmlNodeData[]>(kBlockSize));
            usedInLastBlock = 0;
        }
        TXmlNodeData& node = blocks.back()[usedInLastBlock++];
        node.kind = kind;
        node.name = std::move(name);
        node.value = std::move(value);
        node.owner = this;
        return &node;
    }
};

namespace {

TXmlNodeData* Require(TXmlNodeData* node)
{
    if (node == nullptr)
        throw TXmlError(QStringLiteral("Null node"));
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
    if (size > limits.MaxBytes)
        throw TXmlError(QStringLiteral("%1: larger than %2 MiB").arg(path).arg(limits.MaxBytes >> 20));
    const QByteArray bytes = file.read(size + 1);
    if (bytes.size() > limits.MaxBytes)
        throw TXmlError(QStringLiteral("%1: larger than %2 MiB").arg(path).arg(limits.MaxBytes >> 20));
    return Parse(bytes, path, limits);
}

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

TXmlDocument TXmlDocument::Parse(const QByteArray& bytes, const QString& source, const TXmlLimits& limits)
{
    if (bytes.size() > limits.MaxBytes)
        throw TXmlError(QStringLiteral("%1: larger than %2 MiB").arg(source).arg(limits.MaxBytes >> 20));
    if (!AttributesWithin(bytes, limits.MaxAttributes))
        throw TXmlError(QStringLiteral("%1: an element has more than %2 attributes").arg(source).arg(limits.MaxAttributes));
    TXmlDocument document(QString{});
    TXmlDocumentData& data = *document.data_;
    std::vector<TXmlNodeData*> open;  // the elements from the root to the current one
    std::vector<QString> names;       // element names seen so far, shared between elements

    const auto append = [&](TXmlNodeData* node) {
        if (!open.empty())
            open.back()->Append(node);
    };
    const auto nameOf = [&](QStringView name) {
        for (const QString& known : names) {
            if (known == name)
                return known;
        }
        QString added = name.toString();
        if (names.size() < 64)
            names.push_back(added);
        return added;
    };

    QXmlStreamReader reader(bytes);
    int nodes = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement || token == QXmlStreamReader::Characters ||
            token == QXmlStreamReader::Comment || token == QXmlStreamReader::ProcessingInstruction) {
            if (++nodes > limits.MaxNodes) {
                reader.raiseError(QStringLiteral("more than %1 nodes").arg(limits.MaxNodes));
                break;
            }
        }
        if (token == QXmlStreamReader::StartElement && static_cast<int>(open.size()) >= limits.MaxDepth) {
            reader.raiseError(QStringLiteral("elements nested deeper than %1").arg(limits.MaxDepth));
            break;
        }
        switch (token) {
        case QXmlStreamReader::StartDocument:
            data.version = reader.documentVersion().toString();
            break;
        case QXmlStreamReader::StartElement: {
            TXmlNodeData* element = data.NewNode(TXmlNode::Kind::Element, nameOf(reader.name()));
            const QXmlStreamAttributes attributes = reader.attributes();
            element->attributes.reserve(static_cast<std::size_t>(attributes.size()));
            for (const QXmlStreamAttribute& attribute : attributes)
                element->attributes.emplace_back(attribute.qualifiedName().toString(), attribute.value().toString());
            if (open.empty())
                data.root = element;
            append(element);
            open.push_back(element);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (reader.isCDATA()) {
                append(data.NewNode(TXmlNode::Kind::CData, {}, reader.text().toString()));
            } else if (!reader.isWhitespace() && !open.empty()) {
                // The reader may hand one run of text over in pieces; it is one node.
                TXmlNodeData* current = open.back();
                if (current->lastChild != nullptr && current->lastChild->kind == TXmlNode::Kind::Text)
                    current->lastChild->value += reader.text();
                else
                    append(data.NewNode(TXmlNode::Kind::Text, {}, reader.text().toString()));
            }
            break;
        case QXmlStreamReader::Comment:
            append(data.NewNode(TXmlNode::Kind::Comment, {}, reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            append(data.NewNode(TXmlNode::Kind::ProcessingInstruction, reader.processingInstructionTarget().toString(),
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
    if (reader.hasError()) {
        throw TXmlError(QStringLiteral("%1:%2:%3: %4")
                            .arg(source)
                            .arg(reader.lineNumber())
                            .arg(reader.columnNumber())
                            .arg(reader.errorString()));
    }
    if (data.root == nullptr)
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
    TXmlNodeData* parent = Require(node.node_);
    if (parent->kind != TXmlNode::Kind::Element)
        throw TXmlError(QStringLiteral("Cannot add <%1> to a node that is no element").arg(name));
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

TXmlNodeList TXmlDocument::ChildNodes(TXmlNode node) { return TXmlNodeList(Require(node.node_)); }

TXmlNode TXmlDocument::ChildByIndex(const TXmlNodeList& list, int index)
{
    if (index < 0 || index >= list.count())
        throw TXmlError(QStringLiteral("Child index %1 out of range (%2 children)").arg(index).arg(list.count()));
    return list.at(index);
}

TXmlNode TXmlDocument::ChildByName(TXmlNode node, const QString& name)
{
    for (TXmlNodeData* child = Require(node.node_)->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->kind == TXmlNode::Kind::Element && child->name == name)
            return TXmlNode(child);
    }
    return AddChild(node, name);
}

QString TXmlDocument::Text(TXmlNode node)
{
    const TXmlNodeData* data = Require(node.node_);
    if (data->kind != TXmlNode::Kind::Element)
        return data->value;
    const TXmlNodeData* only = data->firstChild;
    if (only == nullptr)
        return {};
    if (data->childCount == 1 && (only->kind == TXmlNode::Kind::Text || only->kind == TXmlNode::Kind::CData))
        return only->value;
    throw TXmlError(QStringLiteral("Element <%1> holds more than text").arg(data->name));
}
