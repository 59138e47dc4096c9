#pragma once

#include "support/WithoutPermissionOverride.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <string_view>

#include <sys/resource.h>

namespace fernhollow::test {

// The two walls a save can meet: a data folder made read-only, and a full disk.
enum class SaveFault { readOnlyFolder, fullDisk };

inline std::string_view name(SaveFault fault) {
    return fault == SaveFault::readOnlyFolder ? "read-only folder" : "full disk";
}

// No file of this process grows past `bytes` while it lives: a full disk without a mount. A write
// beyond fails with EFBIG, SIGXFSZ being ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : previousHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*previousHandler_)(int);
    rlimit saved_{};
};

// Runs `body` while saving into `folder` fails as named; a file may still take `roomBytes` on the
// full disk, so a save fails halfway. Threads `body` starts keep the read-only case's rights.
inline void whileSavingFails(SaveFault fault, const std::filesystem::path& folder, rlim_t roomBytes,
                             const std::function<void()>& body) {
    if (fault == SaveFault::fullDisk) {
        const FileSizeLimit full(roomBytes);
        body();
        return;
    }
    const WithoutPermissionOverride asOwner;
    std::filesystem::permissions(folder,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    body();
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

} // namespace fernhollow::test
