#include "app/QtTranslation.h"

#include <QApplication>
#include <gtest/gtest.h>

// Window tests render offscreen unless a platform is chosen explicitly.
int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program does at start-up: Qt's buttons in Russian.
    zp::InstallQtTranslation(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
