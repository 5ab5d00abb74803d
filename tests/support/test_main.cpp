// One QApplication for every window test, set up as the program sets it up.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/qt/setup.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qelo::platform::qt::setupStyle(app);
    qelo::platform::qt::installFonts();
    return RUN_ALL_TESTS();
}
