#include "core/common/PaddedFile.h"

#include "core/common/HugePages.h"
#include "core/common/RegularFile.h"

#include <simdjson.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fernhollow {

void PaddedFile::reserve(std::size_t capacity) {
    if (capacity <= capacity_ && data_) {
        return;
    }
    // A log of tens of megabytes then costs tens of page faults, not thousands.
    std::unique_ptr<char, Free> larger(
        static_cast<char*>(allocateHugePages(capacity + simdjson::SIMDJSON_PADDING)));
    if (size_ > 0) {
        std::memcpy(larger.get(), data_.get(), size_);
    }
    data_ = std::move(larger);
    capacity_ = capacity;
}

void PaddedFile::pad() {
    std::memset(data_.get() + size_, 0, simdjson::SIMDJSON_PADDING);
}

std::optional<PaddedFile> PaddedFile::read(const std::filesystem::path& path, std::uint64_t offset,
                                           std::uint64_t limit) {
    PaddedFile file;
    if (!file.readAgain(path, offset, limit)) {
        return std::nullopt;
    }
    return file;
}

bool PaddedFile::readAgain(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t limit) {
    size_ = 0;
    const auto opened = RegularFile::open(path);
    if (!opened) {
        return false;
    }
    const int fd = opened->descriptor;
    if (offset > 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        ::close(fd);
        return false;
    }
    // Room for a few appended lines besides what the file held when opened.
    reserve(static_cast<std::size_t>(
                std::min<std::uint64_t>(opened->size > offset ? opened->size - offset : 0, limit)) +
            4096);
    while (size_ < limit) {
        if (size_ == capacity_) {
            reserve(capacity_ * 2);
        }
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - size_, limit - size_));
        const ssize_t got = ::read(fd, data_.get() + size_, wanted);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            size_ = 0;
            return false;
        }
        if (got == 0) {
            break;
        }
        size_ += static_cast<std::size_t>(got);
    }
    ::close(fd);
    pad();
    return true;
}

} // namespace fernhollow
