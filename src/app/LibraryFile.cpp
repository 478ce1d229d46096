#include "app/LibraryFile.h"

#include "common/Paths.h"
#include "xml/XmlDocument.h"

#include <QFileInfo>

QList<TLibraryRow> ReadLibrary(const QString& libraryPath)
{
    QList<TLibraryRow> rows;
    if (!QFileInfo::exists(libraryPath))
        return rows;
    try {
        const TXmlDocument document = TXmlDocument::Load(libraryPath);
        const QString folder = ExtractFilePath(NativeToStored(libraryPath));
        const TXmlNodeList children = TXmlDocument::ChildNodes(document.DocumentElement());
        for (int i = 0; i < children.count(); ++i) {
            const QString text = TXmlDocument::Text(TXmlDocument::ChildByIndex(children, i));
            if (text.isEmpty())
                continue;
            rows.append({ExtractFileName(text), StoredToNative(CombinePath(folder, text))});
        }
    } catch (const TError&) {
        // A damaged library keeps what was read before the damage; there is nothing the
        // user could do about the message at start-up.
    }
    return rows;
}

void WriteLibrary(const QString& libraryPath, const QList<TLibraryRow>& rows)
{
    TXmlDocument document(QStringLiteral("1.0"));
    document.SetEncoding(QStringLiteral("UTF-8"));
    TXmlNode root = document.AddDocumentElement(QStringLiteral("Zuvora"));
    TXmlDocument::SetAttribute(root, QStringLiteral("Version"), QStringLiteral("1.0.0"));
    const QString base = NativeToStored(libraryPath);
    for (const TLibraryRow& row : rows) {
        TXmlNode entry = TXmlDocument::AddChild(root, QStringLiteral("Zvk"));
        if (!row.Path.isEmpty())
            TXmlDocument::SetText(entry, RelativePath(base, NativeToStored(row.Path)));
    }
    document.Save(libraryPath);
}
