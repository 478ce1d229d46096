#pragma once

#include "common/Error.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QString>

// The one document layer through which every XML file of the program is read and written.
// Nodes are QDom handles (cheap, shared). Every failure raises TXmlError; the readers of
// our own files decide whether to swallow it.
class TXmlError : public TError {
public:
    using TError::TError;
};

class TXmlDocument {
public:
    // A new, empty document whose declaration carries `version` (and UTF-8, see SetEncoding).
    explicit TXmlDocument(const QString& version = QStringLiteral("1.0"));

    // Parses the file (native path). Text nodes holding only whitespace are dropped.
    static TXmlDocument Load(const QString& path);

    // Documents are written as UTF-8; only "UTF-8" is accepted.
    void SetEncoding(const QString& encoding);

    QDomElement AddDocumentElement(const QString& name);
    QDomElement DocumentElement() const;

    // Writes the whole document, replacing the file (native path) atomically: a failure
    // midway leaves the old file as it was. No indentation or line breaks are added.
    void Save(const QString& path) const;

    QByteArray ToBytes() const;

    static QDomElement AddChild(QDomNode node, const QString& name);
    static void SetAttribute(QDomElement element, const QString& name, const QString& text);
    static void SetText(QDomElement element, const QString& text);

    static QDomNodeList ChildNodes(const QDomNode& node) { return node.childNodes(); }
    static QDomNode ChildByIndex(const QDomNodeList& list, int index);

    // The first child element of that name; a missing one is appended empty, so that it
    // reads like an empty element.
    static QDomElement ChildByName(QDomNode node, const QString& name);

    // An element's text: empty without children, the value of its only text (or CDATA)
    // child, an error for any other content. Other nodes give their value.
    static QString Text(const QDomNode& node);

private:
    explicit TXmlDocument(QDomDocument document) : doc_(std::move(document)) {}

    QString version_;
    QString encoding_ = QStringLiteral("UTF-8");
    QDomDocument doc_;
};
