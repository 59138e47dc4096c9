#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace fernhollow::test {

// Sets the umask of the whole process, and so of the children it starts, while it lives.
class WithUmask {
public:
    explicit WithUmask(mode_t mask) : saved_(::umask(mask)) {}
    ~WithUmask() { ::umask(saved_); }
    WithUmask(const WithUmask&) = delete;
    WithUmask& operator=(const WithUmask&) = delete;

private:
    mode_t saved_;
};

// "<path> <octal mode>" of `root` and below wherever not owner-only (0700 folders, 0600 files).
inline std::vector<std::string> notOwnerOnly(const std::filesystem::path& root) {
    std::vector<std::string> found;
    const auto check = [&found](const std::filesystem::path& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            found.push_back(path.string() + " unreadable");
            return;
        }
        const mode_t mode = info.st_mode & 07777;
        if (mode != (S_ISDIR(info.st_mode) ? 0700 : 0600)) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
            found.push_back(path.string() + " " + octal);
        }
    };
    check(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        check(entry.path());
    }
    return found;
}

} // namespace fernhollow::test
