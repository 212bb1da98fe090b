// Runs the widget tests inside one QApplication on the offscreen platform, with the skin
// of the build's bin folder.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/skin.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray bin = qgetenv("FD_BIN_DIR");
    fd::ApplyAppStyle(app);
    if (!bin.isEmpty()) fd::SetSkinBaseDir(QString::fromLocal8Bit(bin) + '/', false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
