#pragma once

#include "xml/XmlError.h"
#include "xml/XmlLimits.h"

#include <QString>

#include <memory>
#include <vector>

// The one document layer through which every XML file of the program is read and written.
// A small tree of our own built with QXmlStreamReader: several times faster to load than a
// QDomDocument, which matters for manifests with thousands of frames. Every failure raises
// TXmlError; the readers of our own files decide whether to swallow it.

struct TXmlNodeData;
struct TXmlDocumentData;

// A handle to a node; valid while its document lives. A default handle is null and stands
// for an absent element: it reads as empty here and in TXmlDocument's ChildNodes,
// ChildByName and Text; NodeKind and the writing calls raise TXmlError for it.
class TXmlNode {
public:
    enum class Kind { Element, Text, CData, Comment, ProcessingInstruction };

    TXmlNode() = default;

    bool IsNull() const { return node_ == nullptr; }
    Kind NodeKind() const;
    bool IsElement() const { return node_ != nullptr && NodeKind() == Kind::Element; }
    // Element or processing-instruction name; empty for other nodes.
    QString Name() const;
    // Text, CDATA, comment or processing-instruction content; empty for elements.
    QString Value() const;
    QString Attribute(const QString& name) const;
    int AttributeCount() const;
    int ChildCount() const;

    bool operator==(const TXmlNode&) const = default;

private:
    friend class TXmlDocument;
    friend class TXmlNodeList;
    explicit TXmlNode(TXmlNodeData* node) : node_(node) {}

    TXmlNodeData* node_ = nullptr;
};

// The children of a node, in document order.
class TXmlNodeList {
public:
    int count() const { return static_cast<int>(nodes_.size()); }
    TXmlNode at(int index) const;

private:
    friend class TXmlDocument;
    explicit TXmlNodeList(TXmlNodeData* parent);

    std::vector<TXmlNodeData*> nodes_;
};

class TXmlDocument {
public:
    // A new, empty document whose declaration carries `version` (and UTF-8, see SetEncoding).
    explicit TXmlDocument(const QString& version = QStringLiteral("1.0"));
    ~TXmlDocument();
    TXmlDocument(TXmlDocument&&) noexcept;
    TXmlDocument& operator=(TXmlDocument&&) noexcept;

    // Parses the file (native path). Text nodes holding only whitespace are dropped. A file
    // beyond the limits raises TXmlError like a malformed one.
    static TXmlDocument Load(const QString& path, const TXmlLimits& limits = kManifestLimits);
    static TXmlDocument Parse(const QByteArray& bytes, const QString& source = QString(),
                              const TXmlLimits& limits = kManifestLimits);

    // Documents are written as UTF-8; only "UTF-8" is accepted.
    void SetEncoding(const QString& encoding);

    TXmlNode AddDocumentElement(const QString& name);
    TXmlNode DocumentElement() const;

    // Writes the whole document, replacing the file (native path) atomically: a failure
    // midway leaves the old file as it was. No indentation or line breaks are added.
    void Save(const QString& path) const;
    QByteArray ToBytes() const;

    static TXmlNode AddChild(TXmlNode node, const QString& name);
    static void SetAttribute(TXmlNode element, const QString& name, const QString& text);
    static void SetText(TXmlNode element, const QString& text);

    // A null node has no children.
    static TXmlNodeList ChildNodes(TXmlNode node);
    static TXmlNode ChildByIndex(const TXmlNodeList& list, int index);

    // The first child element of that name, or a null node when there is none (or `node`
    // is null), which reads like an empty element. Never changes the document; a node that
    // is no element raises TXmlError, as it can hold no elements.
    static TXmlNode ChildByName(TXmlNode node, const QString& name);

    // An element's text: empty without children, the value of its only text (or CDATA)
    // child, an error for any other content. Other nodes give their value, a null node
    // nothing.
    static QString Text(TXmlNode node);

private:
    std::unique_ptr<TXmlDocumentData> data_;
};
