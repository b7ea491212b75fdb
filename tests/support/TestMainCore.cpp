#include <QCoreApplication>
#include <gtest/gtest.h>

// Network and file tests need an application object for their event loops.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
