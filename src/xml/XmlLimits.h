#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

// What one file may make the reader spend, checked before and while it is read: far above
// any real file of its kind, so that only a hostile or broken one meets them.
struct TXmlLimits {
    qint64 MaxBytes;    // the file's size
    int MaxDepth;       // elements open at once
    int MaxNodes;       // nodes in all
    int MaxAttributes;  // attributes of one element
};

// A manifest of 10,000 frames is about 1 MB and 110,000 nodes.
inline constexpr TXmlLimits kManifestLimits{qint64{64} << 20, 64, 1'000'000, 64};
inline constexpr TXmlLimits kProjectLimits{qint64{64} << 20, 64, 1'000'000, 64};
inline constexpr TXmlLimits kLibraryLimits{qint64{16} << 20, 64, 1'000'000, 64};

// Raises TXmlError, naming `source`, for a file larger than the limits allow.
void CheckXmlSize(qint64 size, const QString& source, const TXmlLimits& limits);

// The checks made before the parser sees the bytes: their size, and the attributes of every
// start tag. Raises TXmlError, naming `source`.
void CheckXmlInput(const QByteArray& bytes, const QString& source, const TXmlLimits& limits);

// Counts the nodes of one read as its tokens arrive.
class TXmlReadBudget {
public:
    explicit TXmlReadBudget(const TXmlLimits& limits) : limits_(limits) {}

    // Why taking the token, with `depth` elements open, goes past the limits; empty while
    // it stays within them. The reader raises the text, so it comes with a line and column.
    QString Exceeded(QXmlStreamReader::TokenType token, int depth);

private:
    TXmlLimits limits_;
    int nodes_ = 0;
};
