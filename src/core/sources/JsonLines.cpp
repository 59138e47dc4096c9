#include "core/sources/JsonLines.h"

#include <cstring>

namespace fernhollow {

// memchr runs at memory speed; a search for either byte at once does not.
std::pair<std::size_t, std::size_t> lineEnd(std::string_view text, std::size_t start) {
    const char* begin = text.data() + start;
    const std::size_t rest = text.size() - start;
    const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', rest));
    const std::size_t lfOffset = lf != nullptr ? static_cast<std::size_t>(lf - begin) : rest;
    const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', lfOffset));
    if (cr != nullptr) {
        const std::size_t end = start + static_cast<std::size_t>(cr - begin);
        const bool crlf = end + 1 < text.size() && text[end + 1] == '\n';
        return {end, end + (crlf ? 2 : 1)};
    }
    const std::size_t end = start + lfOffset;
    return {end, lf != nullptr ? end + 1 : end};
}

std::optional<std::string_view> stringAt(simdjson::simdjson_result<simdjson::dom::element> value) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return text;
}

void forEachJsonLine(std::string_view text, simdjson::dom::parser& parser,
                     const std::function<void(simdjson::dom::object line)>& visit) {
    for (std::size_t start = 0; start < text.size();) {
        const auto [end, next] = lineEnd(text, start);
        simdjson::dom::object line;
        if (end > start && parser.parse(text.data() + start, end - start, false).get_object().get(line) ==
                               simdjson::SUCCESS) {
            visit(line);
        }
        start = next;
    }
}

} // namespace fernhollow
