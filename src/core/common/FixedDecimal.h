#pragma once

#include <array>
#include <charconv>
#include <string>

namespace fernhollow {

// `value` with `decimals` digits after the point, rounded as printf's "%.Nf" does, but never
// in the user's locale: Qt's start-up would otherwise have printf write a decimal comma.
inline std::string fixedDecimal(double value, int decimals) {
    // Room for any double in fixed notation: 309 integer digits, sign, point and decimals.
    std::array<char, 420> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

} // namespace fernhollow
