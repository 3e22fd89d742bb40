// The window's tests need one QApplication for the whole program; it runs on the offscreen
// platform unless the environment chooses another.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "station_app.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kStationAppName));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
