#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// What the tree generators share: a generator of numbers that gives the same numbers
// everywhere, plausible escaped text, and a buffered writer of log files.
namespace fernhollow::bench {

constexpr std::uint64_t golden = 0x9e3779b97f4a7c15ULL;

// The splitmix64 finaliser: a bijection on 64 bits, so distinct counters give distinct ids.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Our own generator and distributions: the standard ones may give other numbers with
// another library version, and the tree must be the same wherever it is generated.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() { return mix(state_ += golden); }
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    std::int64_t between(std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low) + 1));
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double probability) { return unit() < probability; }
    // Leans toward `low` more as `power` grows. Only multiplications, which IEEE rounds the
    // same everywhere, unlike the library's exp and log.
    std::int64_t skewed(std::int64_t low, std::int64_t high, int power) {
        const double u = unit();
        double v = u;
        for (int i = 1; i < power; ++i) {
            v *= u;
        }
        return low + static_cast<std::int64_t>(static_cast<double>(high - low) * v);
    }

private:
    std::uint64_t state_;
};

// About `length` bytes of text already escaped for a JSON string, from a fixed corpus of code,
// compiler output and prose, cut at piece boundaries so no escape or character is split.
std::string_view slice(Random& random, std::size_t length);

// Eleven base-62 digits hold any 64-bit value, so the encoding keeps distinct values distinct.
void appendBase62(std::string& out, std::uint64_t value, int digits);
void appendHex(std::string& out, std::uint64_t value, int digits);
void appendInteger(std::string& out, std::int64_t value);
void appendDigits(std::string& out, int value, int width);
// YYYY-MM-DDTHH:MM:SS.mmmZ
void appendTimestamp(std::string& out, std::int64_t milliseconds);

struct Uuid36 {
    std::array<char, 36> text{};
    std::string_view view() const { return {text.data(), text.size()}; }
};

Uuid36 randomUuid(Random& random);

// Writes a log through a buffer of about a megabyte, counting its bytes and lines.
class LogWriter {
public:
    explicit LogWriter(const std::filesystem::path& path);
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;
    ~LogWriter();

    void write(std::string_view text, std::size_t lineCount);
    void close();

    std::uint64_t bytes() const { return flushed_ + buffer_.size(); }
    std::size_t lines() const { return lines_; }

private:
    static constexpr std::size_t flushThreshold = std::size_t{1} << 20;

    void flush();

    int fd_;
    std::string buffer_;
    std::uint64_t flushed_ = 0;
    std::size_t lines_ = 0;
};

} // namespace fernhollow::bench
