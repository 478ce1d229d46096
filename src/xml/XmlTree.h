#pragma once

#include "xml/XmlDocument.h"

#include <QString>

#include <memory>
#include <utility>
#include <vector>

// The tree behind TXmlDocument's handles, shared by the document and the builder that fills
// it from a reader; nothing outside this layer sees it.

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
