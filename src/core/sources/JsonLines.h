#pragma once

#include <simdjson.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace fernhollow {

// The end of the line that starts at `start`, and where the next line starts. Lines end at
// LF, CR or CR LF.
std::pair<std::size_t, std::size_t> lineEnd(std::string_view text, std::size_t start);

// Whether `text` holds `mark` (two bytes or more): sixteen places at a time are sifted by the
// mark's first and last bytes, which a log's text rarely holds together, before any compare.
bool holdsText(std::string_view text, std::string_view mark);

// The string at `value`, or nothing when it is missing or not a string.
std::optional<std::string_view> stringAt(simdjson::simdjson_result<simdjson::dom::element> value);

// Calls `visit` with each line of `text` that is one JSON object, in order; other lines are
// passed over. `text` is followed by simdjson's padding, so lines are parsed in place.
void forEachJsonLine(std::string_view text, simdjson::dom::parser& parser,
                     const std::function<void(simdjson::dom::object line)>& visit);

} // namespace fernhollow
