#include "app/QtPrompts.h"
#include "app/TFrmMain.h"
#include "common/AppDirs.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("1.0"));

    QtPrompts prompts;
    TFrmMain main(prompts, QDir(ExecutableFolder()).filePath(QStringLiteral("Zuvora.Dat")));
    prompts.SetParent(&main);
    main.show();
    return QApplication::exec();
}
