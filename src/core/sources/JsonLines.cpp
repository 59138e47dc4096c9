#include "core/sources/JsonLines.h"

#include <cstdint>
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

bool holdsText(std::string_view text, std::string_view mark) {
    using Bytes = char __attribute__((vector_size(16)));
    const std::size_t span = mark.size() - 1;
    const Bytes first = Bytes{} + mark.front();
    const Bytes last = Bytes{} + mark.back();
    std::size_t at = 0;
    for (; at + span + sizeof(Bytes) <= text.size(); at += sizeof(Bytes)) {
        Bytes starts;
        Bytes ends;
        std::memcpy(&starts, text.data() + at, sizeof starts);
        std::memcpy(&ends, text.data() + at + span, sizeof ends);
        const Bytes both = (starts == first) & (ends == last);
        std::uint64_t halves[2];
        std::memcpy(halves, &both, sizeof halves);
        if ((halves[0] | halves[1]) == 0) {
            continue;
        }
        for (std::size_t lane = 0; lane < sizeof(Bytes); ++lane) {
            if (both[lane] != 0 && text.compare(at + lane, mark.size(), mark) == 0) {
                return true;
            }
        }
    }
    return text.find(mark, at) != std::string_view::npos;
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
