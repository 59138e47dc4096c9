#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include <stdlib.h>

namespace fernhollow::test {

// The whole content of a file, or nothing when it cannot be read.
inline std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return std::move(bytes).str();
}

// A scratch folder under the system temp dir, removed with everything in it at scope exit.
class TempTree {
public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fernhollow-test-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path operator/(std::string_view relative) const { return root_ / relative; }

    // Writes `content` to `relative`, creating folders on the way.
    std::filesystem::path write(std::string_view relative, std::string_view content) const {
        const auto path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }

    std::filesystem::path append(std::string_view relative, std::string_view content) const {
        const auto path = root_ / relative;
        std::ofstream(path, std::ios::binary | std::ios::app) << content;
        return path;
    }

private:
    std::filesystem::path root_;
};

} // namespace fernhollow::test
