#pragma once

#include <filesystem>

namespace fernhollow::test {

// Points HOME and the XDG folders at a new temporary folder, so no test ever reads or writes
// the real user's files, and clears the proxy variables so loopback servers are reached
// directly. Returns the folder; the caller removes it.
std::filesystem::path useTemporaryHome();

} // namespace fernhollow::test
