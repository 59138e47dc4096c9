#include "core/common/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fernhollow {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports failure: a failing close can be the first sign of a failed write.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool fileHoldsExactly(const std::filesystem::path& path, std::span<const std::string> pieces) {
    std::size_t total = 0;
    for (const auto& piece : pieces) {
        total += piece.size();
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || static_cast<std::uint64_t>(info.st_size) != total) {
        return false;
    }
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        return false;
    }
    std::vector<char> chunk;
    for (const std::string& piece : pieces) {
        chunk.resize(piece.size());
        std::size_t offset = 0;
        while (offset < piece.size()) {
            const ssize_t got = ::read(file.get(), chunk.data() + offset, piece.size() - offset);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            offset += static_cast<std::size_t>(got);
        }
        if (std::memcmp(chunk.data(), piece.data(), piece.size()) != 0) {
            return false;
        }
    }
    return true;
}

// After a rename, the directory entry itself must reach the disk for the new file to survive
// a power loss.
void syncFolder(const std::filesystem::path& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get());
    }
}

// Owner-only whatever the umask: a umask that takes the owner's write bit would leave a lock
// file that the next save cannot open.
int openOwnerOnly(const std::filesystem::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
    }
    return fd;
}

std::filesystem::path withSuffix(const std::filesystem::path& path, std::string_view suffix) {
    return path.string() + std::string(suffix);
}

} // namespace

SaveOutcome replaceFileAtomically(const std::filesystem::path& path, std::span<const std::string> pieces) {
    FileDescriptor lock(openOwnerOnly(withSuffix(path, ".lock"), O_RDWR));
    if (!lock.valid()) {
        return SaveOutcome::failed;
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return SaveOutcome::failed;
        }
    }
    // Saving every minute, most saves would rewrite hundreds of megabytes unchanged.
    if (fileHoldsExactly(path, pieces)) {
        return SaveOutcome::unchanged;
    }
    const std::filesystem::path temporary = withSuffix(path, ".tmp");
    FileDescriptor file(openOwnerOnly(temporary, O_WRONLY | O_TRUNC));
    if (!file.valid()) {
        return SaveOutcome::failed;
    }
    const bool written = std::all_of(pieces.begin(), pieces.end(),
                                     [&](const std::string& piece) { return writeAll(file.get(), piece); });
    if (!written || ::fsync(file.get()) != 0 || !file.close()) {
        ::unlink(temporary.c_str());
        return SaveOutcome::failed;
    }
    // One rename replaces the old file: no moment exists at which neither file is whole.
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return SaveOutcome::failed;
    }
    syncFolder(path.parent_path());
    return SaveOutcome::written;
}

} // namespace fernhollow
