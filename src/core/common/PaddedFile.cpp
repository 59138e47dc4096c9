#include "core/common/PaddedFile.h"

#include "core/common/RegularFile.h"

#include <simdjson.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fernhollow {

std::optional<PaddedFile> PaddedFile::read(const std::filesystem::path& path, std::uint64_t offset,
                                           std::uint64_t limit) {
    const auto opened = RegularFile::open(path);
    if (!opened) {
        return std::nullopt;
    }
    const int fd = opened->descriptor;
    if (offset > 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(
                               opened->size > offset ? opened->size - offset : 0, limit)) +
                           4096;
    PaddedFile file;
    file.data_ = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
    while (file.size_ < limit) {
        if (file.size_ == capacity) {
            capacity *= 2;
            auto larger = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
            std::memcpy(larger.get(), file.data_.get(), file.size_);
            file.data_ = std::move(larger);
        }
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(capacity - file.size_, limit - file.size_));
        const ssize_t got = ::read(fd, file.data_.get() + file.size_, wanted);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        file.size_ += static_cast<std::size_t>(got);
    }
    ::close(fd);
    std::memset(file.data_.get() + file.size_, 0, simdjson::SIMDJSON_PADDING);
    return file;
}

} // namespace fernhollow
