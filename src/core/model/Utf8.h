#pragma once

#include <string>
#include <string_view>

namespace fernhollow::utf8 {

bool isValid(std::string_view bytes);

// How many of the last bytes, 1 to 3, begin a well-formed sequence that the text stops short
// of, as when a writer has not yet appended the rest of a character; 0 when the text ends on
// a whole character or on bytes that no continuation would make well-formed.
std::size_t unfinishedEndLength(std::string_view bytes);

// Replaces every ill-formed sequence with U+FFFD, so names taken from the file system can
// be stored in JSON and compared as text.
std::string toValid(std::string_view bytes);

} // namespace fernhollow::utf8
