#pragma once

#include <cstddef>
#include <cstdint>

namespace fernhollow {

// Which of a model's prices a record is charged at, fixed when the record is made from its
// own counts. Figures price the sums of many records of one class at once, which is exact
// only because a record's cost is linear in its counts once its model and class are fixed.
using PriceClass = std::uint8_t;

namespace priceClass {
// The context tier: 0 is the standard price, 1 to 3 the model's tiers for ever longer prompts.
inline constexpr PriceClass contextTierMask = 0x3;
inline constexpr PriceClass fast = 0x4;     // Claude's fast mode
inline constexpr PriceClass priority = 0x8; // OpenAI's priority processing
inline constexpr std::size_t count = 16;
} // namespace priceClass

} // namespace fernhollow
