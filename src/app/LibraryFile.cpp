#include "app/LibraryFile.h"

#include "common/AppDirs.h"
#include "common/Paths.h"
#include "xml/XmlDocument.h"

#include <QDir>
#include <QFileInfo>

QString LibraryFilePath(const QString& executableFolder, const QString& appDataFolder)
{
    const QString beside = QDir(executableFolder).filePath(kLibraryFileName);
    const QFileInfo folder(executableFolder);
    // An installed program (a prefix's bin, its data in share/zuvora beside) keeps its data
    // where Linux keeps a user's, even in a prefix the user may write to, such as ~/.local.
    const bool installed = folder.fileName() == u"bin" &&
                           QFileInfo(QDir(executableFolder).filePath(QStringLiteral("../share/zuvora"))).isDir();
    if (QFileInfo::exists(beside) || (!installed && folder.isDir() && folder.isWritable()))
        return beside;
    const QString own = QDir(appDataFolder).filePath(kAppTitle);
    QDir().mkpath(own);  // the library is saved there at the end
    return QDir(own).filePath(kLibraryFileName);
}

std::optional<QString> ReadLibrary(const QString& libraryPath, QList<TLibraryRow>& rows)
{
    const QFileInfo info(libraryPath);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    // A pipe or device would hang the start or never end.
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    std::optional<QString> failure;
    const auto fail = [&failure](const QString& reason) {
        if (!failure)
            failure = reason;
    };
    try {
        const TXmlDocument document = TXmlDocument::Load(libraryPath, kLibraryLimits);
        const QString folder = ExtractFilePath(NativeToStored(libraryPath));
        const TXmlNodeList children = TXmlDocument::ChildNodes(document.DocumentElement());
        for (int i = 0; i < children.count(); ++i) {
            const QString text = TXmlDocument::Text(TXmlDocument::ChildByIndex(children, i));
            if (text.isEmpty())
                continue;
            // An entry that leads to no path here ("k:" alone, or past the system's limit)
            // is passed over; the file is then not read whole and is kept at the next save.
            const QString path = StoredToNative(CombinePath(folder, text));
            if (path.isEmpty()) {
                fail(QStringLiteral("entry %1 names no file this system can open").arg(i + 1));
                continue;
            }
            rows.append({ExtractFileName(text), path});
        }
    } catch (const TError& error) {
        // A damaged library keeps what was read before the damage.
        fail(error.Text());
    } catch (const std::exception& error) {
        fail(QString::fromLocal8Bit(error.what()));
    }
    return failure;
}

bool StoresFaithfully(const QString& libraryPath, const QString& packagePath)
{
    for (const QChar c : packagePath) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    const QString stored = RelativePath(NativeToStored(libraryPath), NativeToStored(packagePath));
    return StoredToNative(CombinePath(ExtractFilePath(NativeToStored(libraryPath)), stored)) == packagePath;
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
