#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

namespace fernhollow {

// A file mapped read-only into memory: large files are read without copying them.
class MappedFile {
public:
    static std::optional<MappedFile> open(const std::filesystem::path& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    ~MappedFile();

    std::string_view bytes() const { return {static_cast<const char*>(address_), size_}; }

private:
    MappedFile(void* address, std::size_t size) : address_(address), size_(size) {}

    void* address_;
    std::size_t size_;
};

} // namespace fernhollow
