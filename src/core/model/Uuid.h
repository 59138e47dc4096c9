#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fernhollow {

// A 128-bit identifier. Records only ever need random (version 4) ones, and a scan
// draws millions of them, so generation avoids the operating system after seeding.
struct Uuid {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    static Uuid random();
    // Accepts only the canonical form: 8-4-4-4-12 upper-case hexadecimal digits.
    static std::optional<Uuid> fromCanonicalString(std::string_view text);
    std::string toString() const;
    // Appends the canonical text without a temporary string: state files hold millions.
    void appendTo(std::string& out) const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
};

} // namespace fernhollow
