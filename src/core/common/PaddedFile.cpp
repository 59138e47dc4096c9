#include "core/common/PaddedFile.h"

#include "core/common/RegularFile.h"

#include <simdjson.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fernhollow {

std::optional<PaddedFile> PaddedFile::read(const std::filesystem::path& path, std::uint64_t offset) {
    const auto opened = RegularFile::open(path);
    if (!opened) {
        return std::nullopt;
    }
    const int fd = opened->descriptor;
    if (offset > 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::size_t capacity = (opened->size > offset ? opened->size - offset : 0) + 4096;
    PaddedFile file;
    file.data_ = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
    for (;;) {
        if (file.size_ == capacity) {
            capacity *= 2;
            auto larger = std::make_unique_for_overwrite<char[]>(capacity + simdjson::SIMDJSON_PADDING);
            std::memcpy(larger.get(), file.data_.get(), file.size_);
            file.data_ = std::move(larger);
        }
        const ssize_t got = ::read(fd, file.data_.get() + file.size_, capacity - file.size_);
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
