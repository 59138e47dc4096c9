#include "core/common/MappedFile.h"

#include "core/common/RegularFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace fernhollow {

std::optional<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    const auto file = RegularFile::open(path);
    if (!file) {
        return std::nullopt;
    }
    const int fd = file->descriptor;
    const std::size_t size = file->size;
    if (size == 0) {
        ::close(fd);
        return MappedFile(nullptr, 0);
    }
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (address == MAP_FAILED) {
        return std::nullopt;
    }
    return MappedFile(address, size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
    if (address_ != nullptr) {
        ::munmap(address_, size_);
    }
}

} // namespace fernhollow
