#include "xml/XmlDocument.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>

TXmlDocument::TXmlDocument(const QString& version) : version_(version) {}

TXmlDocument TXmlDocument::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TXmlError(path + QStringLiteral(": ") + file.errorString());

    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    // QDomDocument leaves out text nodes that hold only whitespace.
    if (!document.setContent(&file, false, &message, &line, &column)) {
        throw TXmlError(QStringLiteral("%1:%2:%3: %4").arg(path).arg(line).arg(column).arg(message));
    }
    return TXmlDocument(std::move(document));
}

void TXmlDocument::SetEncoding(const QString& encoding)
{
    if (encoding.compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) != 0)
        throw TXmlError(QStringLiteral("Unsupported encoding: ") + encoding);
    encoding_ = QStringLiteral("UTF-8");
}

QDomElement TXmlDocument::AddDocumentElement(const QString& name)
{
    if (!doc_.documentElement().isNull())
        throw TXmlError(QStringLiteral("The document already has a root element"));
    if (doc_.firstChild().isNull() && !version_.isEmpty()) {
        doc_.appendChild(doc_.createProcessingInstruction(
            QStringLiteral("xml"),
            QStringLiteral("version=\"%1\" encoding=\"%2\"").arg(version_, encoding_)));
    }
    return doc_.appendChild(doc_.createElement(name)).toElement();
}

QDomElement TXmlDocument::DocumentElement() const
{
    QDomElement root = doc_.documentElement();
    if (root.isNull())
        throw TXmlError(QStringLiteral("The document has no root element"));
    return root;
}

QByteArray TXmlDocument::ToBytes() const
{
    // Indent -1: not a single whitespace character is added between nodes.
    return doc_.toByteArray(-1);
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

QDomElement TXmlDocument::AddChild(QDomNode node, const QString& name)
{
    QDomDocument owner = node.isDocument() ? node.toDocument() : node.ownerDocument();
    QDomNode added = node.appendChild(owner.createElement(name));
    if (added.isNull())
        throw TXmlError(QStringLiteral("Cannot add element ") + name);
    return added.toElement();
}

void TXmlDocument::SetAttribute(QDomElement element, const QString& name, const QString& text)
{
    element.setAttribute(name, text);
}

void TXmlDocument::SetText(QDomElement element, const QString& text)
{
    while (!element.firstChild().isNull())
        element.removeChild(element.firstChild());
    element.appendChild(element.ownerDocument().createTextNode(text));
}

QDomNode TXmlDocument::ChildByIndex(const QDomNodeList& list, int index)
{
    if (index < 0 || index >= list.count())
        throw TXmlError(QStringLiteral("Child index %1 out of range (%2 children)").arg(index).arg(list.count()));
    return list.at(index);
}

QDomElement TXmlDocument::ChildByName(QDomNode node, const QString& name)
{
    const QDomElement found = node.firstChildElement(name);
    if (!found.isNull())
        return found;
    return AddChild(node, name);
}

QString TXmlDocument::Text(const QDomNode& node)
{
    if (!node.isElement())
        return node.nodeValue();
    const QDomNodeList children = node.childNodes();
    if (children.isEmpty())
        return {};
    const QDomNode only = children.at(0);
    if (children.count() == 1 && (only.isText() || only.isCDATASection()))
        return only.nodeValue();
    throw TXmlError(QStringLiteral("Element <%1> holds more than text").arg(node.nodeName()));
}
