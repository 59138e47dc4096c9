#include "core/model/JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>

namespace fernhollow::json {

namespace {

// Bytes that cannot stand as they are inside a JSON string (the slash only by choice).
constexpr auto needsEscape = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[c] = true;
    }
    table['"'] = true;
    table['\\'] = true;
    table['/'] = true;
    return table;
}();

void appendEscaped(std::string& out, char c, Slash slash) {
    static constexpr char hex[] = "0123456789abcdef";
    switch (c) {
    case '"':
        out += "\\\"";
        break;
    case '\\':
        out += "\\\\";
        break;
    case '/':
        out += slash == Slash::escaped ? "\\/" : "/";
        break;
    case '\b':
        out += "\\b";
        break;
    case '\f':
        out += "\\f";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\t':
        out += "\\t";
        break;
    default:
        out += "\\u00";
        out.push_back(hex[(c >> 4) & 0xF]);
        out.push_back(hex[c & 0xF]);
    }
}

} // namespace

void appendString(std::string& out, std::string_view text, Slash slash) {
    out.push_back('"');
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (needsEscape[static_cast<unsigned char>(text[i])]) {
            out.append(text.substr(runStart, i - runStart));
            appendEscaped(out, text[i], slash);
            runStart = i + 1;
        }
    }
    out.append(text.substr(runStart));
    out.push_back('"');
}

void appendInteger(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendNumber(std::string& out, double value) {
    // JSON has no NaN or infinity; null is the conventional stand-in.
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
    // A whole number beyond 64 bits written without a fraction reads back as an integer that
    // does not fit, which parsers refuse; the fraction marks it as the double it is.
    const bool beyond64Bits = value >= 9223372036854775808.0 || value < -9223372036854775808.0;
    if (beyond64Bits && std::string_view(buffer, result.ptr).find_first_of(".e") == std::string_view::npos) {
        out += ".0";
    }
}

} // namespace fernhollow::json
