#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fernhollow::isodate {

enum class FractionalSeconds { allowed, forbidden };

// Internet date-time (RFC 3339 profile of ISO 8601): full date, "T", full time with
// fractional seconds of any length where allowed, then "Z" or an offset "+hh:mm"/"-hh:mm".
// Returns seconds since 1970-01-01T00:00:00Z.
std::optional<double> parseInternetDateTime(std::string_view text,
                                            FractionalSeconds fraction = FractionalSeconds::allowed);

// The stricter form used inside our own files: UTC, whole seconds, "Z" suffix.
std::optional<double> parseUtcWholeSeconds(std::string_view text);

// Formats in that stricter form; a fractional second is dropped (rounded down).
std::string formatUtcWholeSeconds(double secondsSinceEpoch);
void appendUtcWholeSeconds(std::string& out, double secondsSinceEpoch);

} // namespace fernhollow::isodate
