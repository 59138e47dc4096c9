#include "platform/Folders.h"

#include <QStandardPaths>

#include <sys/stat.h>

namespace fernhollow::Folders {
namespace {

std::filesystem::path ensureFolder(QStandardPaths::StandardLocation base) {
    const std::filesystem::path folder =
        std::filesystem::path(QStandardPaths::writableLocation(base).toStdString()) / "Fernhollow";
    std::error_code ignored;
    if (std::filesystem::create_directories(folder, ignored)) {
        ::chmod(folder.c_str(), 0700);
    }
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
