#include "core/sources/LogFileWalker.h"

#include "core/common/RegularFile.h"
#include "core/model/Utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace fernhollow {
namespace {

constexpr std::string_view jsonlExtension = ".jsonl";

struct FolderIdentity {
    dev_t device;
    ino_t inode;
    friend auto operator<=>(const FolderIdentity&, const FolderIdentity&) = default;
};

class Walker {
public:
    Walker(std::size_t rootLength, const LogNamePredicate& isLogName,
           const std::function<void(const FoundLogFile&)>& visit)
        : rootLength_(rootLength), isLogName_(isLogName), visit_(visit) {}

    bool walk(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            return false;
        }
        struct stat folderInfo {};
        if (::fstat(::dirfd(dir), &folderInfo) != 0 ||
            !visited_.insert({folderInfo.st_dev, folderInfo.st_ino}).second) {
            ::closedir(dir);
            return true;
        }
        std::vector<std::pair<std::string, unsigned char>> entries;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                entries.emplace_back(entry->d_name, entry->d_type);
            }
        }
        // A fixed order makes "first copy wins" the same from one scan to the next. Names
        // compare without their ".jsonl", so a session's log comes before the copies named
        // after it ("<session>.checkpoint.<id>.jsonl") and keeps the usage they repeat.
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            const auto stem = [](std::string_view name) {
                return name.ends_with(jsonlExtension) ? name.substr(0, name.size() - jsonlExtension.size())
                                                      : name;
            };
            const auto stemA = stem(a.first);
            const auto stemB = stem(b.first);
            return stemA != stemB ? stemA < stemB : a.first < b.first;
        });
        for (const auto& [name, type] : entries) {
            visitEntry(dir, folder, name, type);
        }
        ::closedir(dir);
        return true;
    }

private:
    void visitEntry(DIR* dir, const std::string& folder, const std::string& name, unsigned char type) {
        std::string path = folder + "/" + name;
        if (type == DT_DIR) {
            walk(path);
            return;
        }
        const bool isLogName = isLogName_(name);
        const bool mayBeFolder = type == DT_LNK || type == DT_UNKNOWN;
        if (!mayBeFolder && !(type == DT_REG && isLogName)) {
            return;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir), name.c_str(), &info, 0) != 0) {
            if (type == DT_REG) {
                report(std::move(path), 0.0, 0); // present, but its times cannot be read
            }
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            walk(path);
        } else if (S_ISREG(info.st_mode) && isLogName) {
            // A file we may not read is timed as unread, so that once it may be, its time
            // counts as a change even if its content never changed.
            const bool readable = ::faccessat(::dirfd(dir), name.c_str(), R_OK, AT_EACCESS) == 0;
            report(std::move(path), readable ? modificationTime(info) : 0.0,
                   static_cast<std::uint64_t>(info.st_size));
        }
    }

    void report(std::string path, double mtime, std::uint64_t size) {
        FoundLogFile file{std::move(path), {}, mtime, size};
        file.relativePath = std::string_view(file.path).substr(rootLength_ + 1);
        visit_(file);
    }

    std::size_t rootLength_;
    const LogNamePredicate& isLogName_;
    const std::function<void(const FoundLogFile&)>& visit_;
    std::set<FolderIdentity> visited_;
};

} // namespace

bool walkLogFiles(const std::filesystem::path& root, const LogNamePredicate& isLogName,
                  const std::function<void(const FoundLogFile&)>& visit) {
    std::string rootText = root.string();
    while (rootText.size() > 1 && rootText.ends_with('/')) {
        rootText.pop_back();
    }
    Walker walker(rootText.size(), isLogName, visit);
    return !rootText.empty() && walker.walk(rootText);
}

bool walkJsonlFiles(const std::filesystem::path& root,
                    const std::function<void(const FoundLogFile&)>& visit) {
    return walkLogFiles(
        root,
        [](std::string_view name) {
            return name.size() > jsonlExtension.size() && name.ends_with(jsonlExtension);
        },
        visit);
}

std::vector<std::filesystem::path> distinctFolders(std::span<const std::filesystem::path> folders) {
    std::vector<std::filesystem::path> distinct;
    std::set<FolderIdentity> seen;
    std::set<std::string> seenMissing;
    for (const std::filesystem::path& folder : folders) {
        std::string text = folder.lexically_normal().string();
        while (text.size() > 1 && text.ends_with('/')) {
            text.pop_back();
        }
        if (text.empty()) {
            continue;
        }
        struct stat info {};
        const bool isNew = ::stat(text.c_str(), &info) == 0 ? seen.insert({info.st_dev, info.st_ino}).second
                                                            : seenMissing.insert(text).second;
        if (isNew) {
            distinct.emplace_back(std::move(text));
        }
    }
    return distinct;
}

std::string sessionIdOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return utf8::toValid(name);
}

} // namespace fernhollow
