// Entry point of the tests that use the Qt layer: a Qt application object for the event
// loop and the network, and a home, data and configuration folder of their own so that no
// test ever reads or writes the real user's files.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "fernhollow-home-XXXXXX").string();
    const std::filesystem::path home = ::mkdtemp(pattern.data());
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    // Loopback test servers must be reached directly, whatever proxy the machine is set up with.
    for (const char* proxy :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        ::unsetenv(proxy);
    }

    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
