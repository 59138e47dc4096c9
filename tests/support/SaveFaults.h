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

// No file of this process grows past `bytes` while it lives, which a full disk looks like to
// a writer without needing a mount or any privilege. A write beyond fails with EFBIG instead
// of raising SIGXFSZ, which is ignored meanwhile.
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

// Runs `body` while saving into `folder` fails in the way named; a file may still take
// `roomBytes` on the full disk, so that a save there fails halfway. Threads started by `body`
// keep the reduced rights of the read-only case, which only the owner's modes then govern.
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
