#include "platform/system/Folders.h"

#include <QStandardPaths>

#include <sys/stat.h>

namespace fernhollow::Folders {
namespace {

// Every folder made on the way is owner-only whatever the umask: the XDG base folder itself
// may be among them, and the user's data is below it.
void createPrivately(const std::filesystem::path& folder) {
    std::error_code ignored;
    if (folder.empty() || std::filesystem::is_directory(folder, ignored)) {
        return;
    }
    createPrivately(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) == 0) {
        ::chmod(folder.c_str(), 0700);
    }
}

std::filesystem::path ensureFolder(QStandardPaths::StandardLocation base) {
    const std::filesystem::path folder =
        std::filesystem::path(QStandardPaths::writableLocation(base).toStdString()) / "Fernhollow";
    createPrivately(folder);
    return folder;
}

} // namespace

std::filesystem::path data() {
    return ensureFolder(QStandardPaths::GenericDataLocation);
}

std::filesystem::path config() {
    return ensureFolder(QStandardPaths::GenericConfigLocation);
}

} // namespace fernhollow::Folders
