#include "core/model/Uuid.h"

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
constexpr std::size_t canonicalLength = 36;

// Where each of the 32 digits sits in the canonical 8-4-4-4-12 text.
constexpr std::array<std::uint8_t, 32> digitPositions = [] {
    std::array<std::uint8_t, 32> positions{};
    std::uint8_t position = 0;
    for (std::size_t digit = 0; digit < positions.size(); ++digit) {
        if (position == 8 || position == 13 || position == 18 || position == 23) {
            ++position;
        }
        positions[digit] = position++;
    }
    return positions;
}();

// Upper-case hexadecimal digits only; -1 for anything else.
constexpr std::array<std::int8_t, 256> digitValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 16; ++i) {
        values[static_cast<unsigned char>(hexDigits[i])] = static_cast<std::int8_t>(i);
    }
    return values;
}();

} // namespace

Uuid Uuid::random() {
    thread_local Xoshiro256 generator;
    Uuid uuid{generator.next(), generator.next()};
    uuid.high = (uuid.high & ~std::uint64_t{0xF000}) | 0x4000;                        // version 4
    uuid.low = (uuid.low & ~(std::uint64_t{0xC} << 60)) | (std::uint64_t{0x8} << 60); // RFC 4122 variant
    return uuid;
}

std::optional<Uuid> Uuid::fromCanonicalString(std::string_view text) {
    if (text.size() != canonicalLength || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    Uuid uuid;
    int invalid = 0;
    for (std::size_t digit = 0; digit < 32; ++digit) {
        const int value = digitValues[static_cast<unsigned char>(text[digitPositions[digit]])];
        invalid |= value;
        std::uint64_t& half = digit < 16 ? uuid.high : uuid.low;
        half = (half << 4) | static_cast<std::uint64_t>(value & 0xF);
    }
    if (invalid < 0) {
        return std::nullopt;
    }
    return uuid;
}

std::string Uuid::toString() const {
    std::string text;
    appendTo(text);
    return text;
}

void Uuid::appendTo(std::string& out) const {
    const std::size_t start = out.size();
    out.resize(start + canonicalLength, '-');
    char* text = out.data() + start;
    for (std::size_t digit = 0; digit < 32; ++digit) {
        const std::uint64_t half = digit < 16 ? high : low;
        text[digitPositions[digit]] = hexDigits[(half >> (60 - 4 * (digit % 16))) & 0xF];
    }
}

} // namespace fernhollow
