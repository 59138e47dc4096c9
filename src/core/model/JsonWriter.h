#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fernhollow::json {

enum class Slash { plain, escaped };

// Appends `text` (valid UTF-8) as a JSON string literal. Our data files escape '/' as
// "\/", the convention of the files they must stay interchangeable with.
void appendString(std::string& out, std::string_view text, Slash slash = Slash::plain);

void appendInteger(std::string& out, std::int64_t value);

// Shortest text that reads back as the same double.
void appendNumber(std::string& out, double value);

} // namespace fernhollow::json
