// Entry point of the tests that use the Qt layer: a Qt application object for the event
// loop and the network, in a home of their own.
#include "support/TestHome.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const std::filesystem::path home = fernhollow::test::useTemporaryHome();
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
