// One QApplication per test program, set up as the programs set theirs up.
#include <gtest/gtest.h>

#include <QApplication>

#include "qt/setup.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qelo::platform::qt::setupLook(app);
    return RUN_ALL_TESTS();
}
