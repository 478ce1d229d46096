#pragma once

#include "xml/XmlTree.h"

#include <QString>
#include <QStringView>
#include <QXmlStreamReader>

#include <vector>

// Builds the tree from the reader's tokens.
class TXmlTreeBuilder {
public:
    explicit TXmlTreeBuilder(TXmlDocumentData& data) : data_(data) {}

    int Depth() const { return static_cast<int>(open_.size()); }
    void Take(QXmlStreamReader& reader, QXmlStreamReader::TokenType token);

private:
    void Append(TXmlNodeData* node)
    {
        if (!open_.empty())
            open_.back()->Append(node);
    }
    void StartElement(const QXmlStreamReader& reader);
    void Characters(const QXmlStreamReader& reader);
    QString NameOf(QStringView name);

    TXmlDocumentData& data_;
    std::vector<TXmlNodeData*> open_;  // the elements from the root to the current one
    std::vector<QString> names_;       // element names seen so far, shared between elements
};
