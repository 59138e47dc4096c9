#pragma once

#include <filesystem>

namespace fernhollow::test {

// Points HOME and the XDG folders at a new temporary folder, which the caller removes, and clears
// the proxy variables so loopback servers are reached directly.
std::filesystem::path useTemporaryHome();

} // namespace fernhollow::test
