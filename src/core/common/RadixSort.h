#pragma once

#include "core/common/HugePages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace fernhollow {

// Sorts `items` by the signed 64-bit key `keyOf` gives, keeping the order of items of equal keys:
// a byte of the key a pass, skipping the bytes every key shares (the high bytes of times). For
// the millions of records of a merge it takes a tenth of the instructions of a comparison sort.
template <typename T, typename KeyOf> void radixSort(std::span<T> items, KeyOf keyOf) {
    const auto bitsOf = [&](const T& item) {
        // Flipping the sign bit orders negative keys before positive ones, as unsigned bytes.
        return static_cast<std::uint64_t>(keyOf(item)) ^ (std::uint64_t{1} << 63);
    };
    std::array<std::array<std::size_t, 256>, 8> counts{};
    for (const T& item : items) {
        const std::uint64_t bits = bitsOf(item);
        for (std::size_t byte = 0; byte < 8; ++byte) {
            ++counts[byte][(bits >> (8 * byte)) & 0xff];
        }
    }
    std::vector<T, HugePageAllocator<T>> spare(items.size());
    std::span<T> from = items;
    std::span<T> to = spare;
    for (std::size_t byte = 0; byte < 8; ++byte) {
        if (std::ranges::find(counts[byte], items.size()) != counts[byte].end()) {
            continue;
        }
        std::size_t offset = 0;
        for (std::size_t& count : counts[byte]) {
            offset += std::exchange(count, offset);
        }
        for (const T& item : from) {
            to[counts[byte][(bitsOf(item) >> (8 * byte)) & 0xff]++] = item;
        }
        std::swap(from, to);
    }
    if (from.data() != items.data()) {
        std::ranges::copy(from, items.begin());
    }
}

} // namespace fernhollow
