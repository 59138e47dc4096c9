#include "support/TestHome.h"

#include <string>

#include <stdlib.h>

namespace fernhollow::test {

std::filesystem::path useTemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fernhollow-home-XXXXXX").string();
    const std::filesystem::path home = ::mkdtemp(pattern.data());
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    for (const char* proxy :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        ::unsetenv(proxy);
    }
    return home;
}

} // namespace fernhollow::test
