#pragma once

#include <QCoroTask>

#include <filesystem>

namespace fernhollow::FileManager {

// Shows `file` selected in the desktop's file manager (the freedesktop FileManager1 service on
// the session bus); without one, opens the folder that holds it. False when neither worked,
// so the caller can show the path instead.
QCoro::Task<bool> reveal(std::filesystem::path file);

} // namespace fernhollow::FileManager
