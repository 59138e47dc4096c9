#include "model/Uuid.h"

#include <array>
#include <random>

namespace fernhollow {
namespace {

// xoshiro256**: fast, with a period far beyond any number of records this program
// will ever draw. Each thread seeds its own from the operating system.
class Xoshiro256 {
public:
    Xoshiro256() {
        std::random_device device;
        for (auto& word : state_) {
            word = (std::uint64_t{device()} << 32) ^ device();
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> state_{};
};

constexpr char hexDigits[] = "0123456789ABCDEF";
constexpr std::array<int, 4> hyphenPositions{8, 13, 18, 23};
constexpr std::size_t canonicalLength = 36;

bool isHyphenPosition(std::size_t i) {
    for (int position : hyphenPositions) {
        if (static_cast<std::size_t>(position) == i) {
            return true;
        }
    }
    return false;
}

int upperHexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

Uuid Uuid::random() {
    thread_local Xoshiro256 generator;
    Uuid uuid{generator.next(), generator.next()};
    uuid.high = (uuid.high & ~std::uint64_t{0xF000}) | 0x4000;                        // version 4
    uuid.low = (uuid.low & ~(std::uint64_t{0xC} << 60)) | (std::uint64_t{0x8} << 60); // RFC 4122 variant
    return uuid;
}

std::optional<Uuid> Uuid::fromCanonicalString(std::string_view text) {
    if (text.size() != canonicalLength) {
        return std::nullopt;
    }
    Uuid uuid;
    int digitIndex = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int value = upperHexValue(text[i]);
        if (value < 0) {
            return std::nullopt;
        }
        std::uint64_t& half = digitIndex < 16 ? uuid.high : uuid.low;
        half = (half << 4) | static_cast<std::uint64_t>(value);
        ++digitIndex;
    }
    return uuid;
}

std::string Uuid::toString() const {
    std::string text(canonicalLength, '-');
    int digitIndex = 0;
    for (std::size_t i = 0; i < canonicalLength; ++i) {
        if (isHyphenPosition(i)) {
            continue;
        }
        const std::uint64_t half = digitIndex < 16 ? high : low;
        const int shift = 60 - 4 * (digitIndex % 16);
        text[i] = hexDigits[(half >> shift) & 0xF];
        ++digitIndex;
    }
    return text;
}

} // namespace fernhollow
