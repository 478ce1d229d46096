#include "app/LibraryEditor.h"

#include "app/LibraryFile.h"
#include "common/Error.h"
#include "common/Prompts.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

TLibraryEditor::TLibraryEditor(Prompts& prompts, QString libraryFile)
    : prompts_(prompts), libraryFile_(std::move(libraryFile))
{
}

void TLibraryEditor::Load()
{
    QList<TLibraryRow> rows;
    const std::optional<QString> failure = ReadLibrary(libraryFile_, rows);
    model_.Append(rows);
    if (!failure)
        return;
    // Saving what was read would silently drop the rest: the original is kept aside.
    damaged_ = true;
    prompts_.Warning(QStringLiteral("The library %1 could not be read whole: %2\nThe packages read before the "
                                    "damage are listed. The file is kept as %1.bak when the library is saved.")
                         .arg(libraryFile_, *failure));
}

bool TLibraryEditor::Save()
{
    QString reason;
    try {
        if (damaged_) {
            const QString kept = libraryFile_ + QStringLiteral(".bak");
            QFile::remove(kept);
            if (std::rename(QFile::encodeName(libraryFile_).constData(), QFile::encodeName(kept).constData()) != 0)
                throw TError(QStringLiteral("the damaged library cannot be kept as %1: %2")
                                 .arg(kept, QString::fromLocal8Bit(std::strerror(errno))));
            damaged_ = false;
        }
        WriteLibrary(libraryFile_, model_.Rows());
        return true;
    } catch (const TError& error) {
        reason = error.Text();
    } catch (const std::exception& error) {
        reason = QString::fromLocal8Bit(error.what());
    }
    // The list lives only in memory until now: say so rather than lose it silently.
    prompts_.Error(QStringLiteral("The library could not be saved to %1: %2\n"
                                  "The changes made in this session are lost.")
                       .arg(libraryFile_, reason));
    return false;
}

void TLibraryEditor::AppendPackages(const QStringList& nativePaths)
{
    QStringList files;
    QStringList refused;
    for (const QString& file : nativePaths)
        (StoresFaithfully(libraryFile_, file) ? files : refused).append(file);
    model_.AppendFiles(files);
    if (!refused.isEmpty()) {
        prompts_.Error(QStringLiteral("These packages were left out: the library file cannot keep their paths, "
                                      "which would lead elsewhere after a restart.\n")
                       + refused.join(u'\n'));
    }
}

QString TLibraryEditor::ExistingPath(int row)
{
    if (row < 0 || row >= model_.rowCount())
        return {};
    const QString path = model_.Rows()[row].Path;
    if (!QFileInfo(path).isFile()) {
        prompts_.Error(path + QStringLiteral(" does not exist!"));
        return {};
    }
    return path;
}
