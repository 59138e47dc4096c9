#pragma once

#include <cstddef>
#include <cstdint>
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

    std::string_view bytes() const { return {data_.get(), size_}; }

private:
    friend std::optional<PaddedFile> decompressZstd(std::string_view compressed, std::size_t limit);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

} // namespace fernhollow
