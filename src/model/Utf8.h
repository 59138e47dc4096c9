#pragma once

#include <string>
#include <string_view>

namespace fernhollow::utf8 {

bool isValid(std::string_view bytes);

// Replaces every ill-formed sequence with U+FFFD, so names taken from the file system can
// be stored in JSON and compared as text.
std::string toValid(std::string_view bytes);

} // namespace fernhollow::utf8
