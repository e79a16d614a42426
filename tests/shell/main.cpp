// The widget tests need a QApplication; widgets are drawn on Qt's offscreen
// platform unless another one is asked for. A warning from Qt fails the test
// that caused it.

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/QtWarningCheck.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(vorel::test::failOnQtWarnings);
    int failed;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        failed = RUN_ALL_TESTS();
    }
    return failed || vorel::test::strayQtWarnings() ? 1 : 0;
}
