#include "core/statusline/StatusLineInput.h"

#include "core/model/IsoDate.h"

#include <simdjson.h>

#include <cmath>

namespace fernhollow {
namespace {

using simdjson::dom::element;

std::string textAt(simdjson::simdjson_result<element> value) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) {
        return {};
    }
    // The line goes to a terminal: a name must not be able to move its cursor or recolour it.
    // C1 controls (U+0080 to U+009F, "\xC2\x80" to "\xC2\x9F") included.
    std::string clean;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            ++i;
        } else if (byte >= 0x20 && byte != 0x7f) {
            clean += text[i];
        }
    }
    return clean;
}

std::optional<double> numberAt(simdjson::simdjson_result<element> value) {
    double number = 0.0;
    if (value.get_double().get(number) == simdjson::SUCCESS && std::isfinite(number)) {
        return number;
    }
    // An epoch written as text, or an internet date-time.
    std::string_view text;
    if (value.get_string().get(text) == simdjson::SUCCESS) {
        return isodate::parseInternetDateTime(text);
    }
    return std::nullopt;
}

} // namespace

StatusLineInput parseStatusLineInput(std::string_view json, double now) {
    StatusLineInput input;
    simdjson::dom::parser parser;
    element root;
    if (parser.parse(json.data(), json.size()).get(root) != simdjson::SUCCESS || !root.is_object()) {
        return input;
    }
    input.sessionId = textAt(root["session_id"]);
    input.transcriptPath = textAt(root["transcript_path"]);
    input.model = textAt(root["model"]["display_name"]);
    if (input.model.empty()) {
        input.model = textAt(root["model"]["id"]);
    }
    for (const auto& [key, window] :
         {std::pair{"five_hour", RateWindow::fiveHour}, std::pair{"seven_day", RateWindow::weekly}}) {
        const auto limit = root["rate_limits"][key];
        const auto used = numberAt(limit["used_percentage"]);
        if (used && *used >= 0.0) {
            input.rateLimits.push_back({UsageSource::claudeCode, window, *used, numberAt(limit["resets_at"]),
                                        window == RateWindow::fiveHour ? 300 : 7 * 24 * 60, now});
        }
    }
    return input;
}

} // namespace fernhollow
