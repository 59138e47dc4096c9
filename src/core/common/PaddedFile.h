#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace fernhollow {

// A whole file in memory, followed by the zeroed bytes that simdjson may read past the end,
// so that the file and any slice of it can be parsed in place without a copy.
class PaddedFile {
public:
    // Reads from `offset` to the end, even when the file grows meanwhile (an agent appending), or
    // `limit` bytes if the file holds more. An offset past the end gives no bytes.
    static std::optional<PaddedFile> read(const std::filesystem::path& path, std::uint64_t offset = 0,
                                          std::uint64_t limit = UINT64_MAX);
    // As `read`, into the memory this one holds where it is large enough. A scan reads thousands of
    // logs, one after another on each thread: in fresh memory, each 4 KB of each log cost the
    // kernel a page fault, the largest part of a first scan's system time. False when the file
    // cannot be read; the bytes are then none.
    bool readAgain(const std::filesystem::path& path, std::uint64_t offset = 0,
                   std::uint64_t limit = UINT64_MAX);

    std::string_view bytes() const { return {data_.get(), size_}; }

private:
    friend std::optional<PaddedFile> decompressZstd(std::string_view compressed, std::size_t limit);

    // Room for `capacity` bytes and the padding after them, the bytes held kept.
    void reserve(std::size_t capacity);
    // Zeroes the padding after the bytes held.
    void pad();

    struct Free {
        void operator()(char* memory) const { std::free(memory); }
    };
    std::unique_ptr<char, Free> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

} // namespace fernhollow
