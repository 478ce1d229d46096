#include "common/SaveTarget.h"

#include "common/Error.h"

#include <QFileInfo>

void RefuseLinkAsSaveTarget(const QString& path)
{
    if (QFileInfo(path).isSymLink())
        throw TError(QStringLiteral("%1 is a symbolic link: saving there would replace the file it leads to, so "
                                    "nothing was written").arg(path));
}
