#include <QCoreApplication>

#include <gtest/gtest.h>

// The hand-overs need a main thread with a Qt application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
