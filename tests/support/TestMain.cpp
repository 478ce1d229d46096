#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // Widget tests need no display; a test never opens a window on the user's desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
