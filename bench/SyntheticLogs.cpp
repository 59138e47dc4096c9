#include "SyntheticLogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <system_error>
#include <utility>
#include <vector>

namespace fernhollow::bench {
namespace {

// Pieces separated by single spaces. Each is already escaped for a JSON string and holds no
// space, so the corpus can be cut at any space without splitting an escape or a multi-byte
// character.
constexpr std::string_view vocabulary =
    "the a to of and in is for returns value parser record line file const auto& "
    "std::string_view std::vector<UsageRecord> if (!ok) { } return nullptr; (std::size_t i = "
    "0; < n; ++i) error: warning: note: src/sources/Reader.cpp:128:9: expected ';' before "
    "\\\"usage\\\": \\\"model\\\": \\\"claude-sonnet-4-5\\\", café naïve déjà résumé — ✓ ✗ → "
    "… • 日本語 Grüße Ωmega \\t \\\\ C:\\\\Users\\\\dev \\u001b[32mPASS\\u001b[0m "
    "\\u001b[31mFAIL\\u001b[0m npm run build cmake --build --preset release ctest passed "
    "failed 0.42s (12 ms) $ git diff @@ -12,7 +12,9 #include <string> int main() fn let mut "
    "println!(\\\"{}\\\", def self, import from class struct TODO: refactor streaming reader "
    "so that each copy keeps its message id tokens cache read write session project test "
    "Tests 100% coverage OK done. I'll now update check Let me look at files changed, "
    "insertions(+), deletions(-) {\\\"key\\\": [1, 2, 3]} /home/user/src README.md";

constexpr std::size_t corpusSize = std::size_t{2} << 20;
constexpr std::size_t longestSlice = 210'000;
constexpr std::size_t cutSlack = 1024; // far longer than any piece, so a space always follows

std::string buildCorpus() {
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < vocabulary.size();) {
        const std::size_t end = std::min(vocabulary.find(' ', at), vocabulary.size());
        pieces.push_back(vocabulary.substr(at, end - at));
        at = end + 1;
    }
    Random random(0xC0FFEE);
    std::string text(1, ' ');
    text.reserve(corpusSize + 64);
    while (text.size() < corpusSize) {
        const std::uint64_t roll = random.below(100);
        if (roll < 9) {
            text += "\\n";
        } else if (roll < 12) {
            text += "\\n";
            char digits[8];
            const auto end = std::to_chars(digits, digits + sizeof digits, random.between(1, 2400)).ptr;
            text.append(digits, end);
            text += "→";
        } else {
            text += pieces[random.below(pieces.size())];
        }
        text.push_back(' ');
    }
    return text;
}

const std::string& corpus() {
    static const std::string text = buildCorpus();
    return text;
}

constexpr char base62Digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char hexDigits[] = "0123456789abcdef";

} // namespace

std::string_view slice(Random& random, std::size_t length) {
    const std::string& text = corpus();
    length = std::clamp<std::size_t>(length, 1, longestSlice);
    const std::size_t start = text.find(' ', random.below(text.size() - length - cutSlack)) + 1;
    const std::size_t end = text.find(' ', start + length);
    return std::string_view(text).substr(start, end - start);
}

void appendBase62(std::string& out, std::uint64_t value, int digits) {
    char text[16];
    for (int i = digits - 1; i >= 0; --i) {
        text[i] = base62Digits[value % 62];
        value /= 62;
    }
    out.append(text, static_cast<std::size_t>(digits));
}

void appendHex(std::string& out, std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out.push_back(hexDigits[(value >> (4 * i)) & 0xF]);
    }
}

void appendInteger(std::string& out, std::int64_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void appendDigits(std::string& out, int value, int width) {
    char text[8];
    for (int i = width - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(text, static_cast<std::size_t>(width));
}

void appendTimestamp(std::string& out, std::int64_t milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    appendDigits(out, utc.tm_year + 1900, 4);
    out.push_back('-');
    appendDigits(out, utc.tm_mon + 1, 2);
    out.push_back('-');
    appendDigits(out, utc.tm_mday, 2);
    out.push_back('T');
    appendDigits(out, utc.tm_hour, 2);
    out.push_back(':');
    appendDigits(out, utc.tm_min, 2);
    out.push_back(':');
    appendDigits(out, utc.tm_sec, 2);
    out.push_back('.');
    appendDigits(out, static_cast<int>(milliseconds % 1000), 3);
    out.push_back('Z');
}

Uuid36 randomUuid(Random& random) {
    const std::uint64_t high = (random.next() & ~0xF000ULL) | 0x4000ULL;          // version 4
    const std::uint64_t low = (random.next() & ~(0x3ULL << 62)) | (0x2ULL << 62); // RFC 4122 variant
    Uuid36 uuid;
    std::size_t at = 0;
    for (int nibble = 0; nibble < 32; ++nibble) {
        if (at == 8 || at == 13 || at == 18 || at == 23) {
            uuid.text[at++] = '-';
        }
        const std::uint64_t word = nibble < 16 ? high : low;
        uuid.text[at++] = hexDigits[(word >> (60 - 4 * (nibble % 16))) & 0xF];
    }
    return uuid;
}

LogWriter::LogWriter(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
    }
    buffer_.reserve(flushThreshold + longestSlice + 8192);
}

LogWriter::~LogWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void LogWriter::write(std::string_view text, std::size_t lineCount) {
    buffer_.append(text);
    lines_ += lineCount;
    if (buffer_.size() >= flushThreshold) {
        flush();
    }
}

void LogWriter::close() {
    flush();
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot close a log file");
    }
}

void LogWriter::flush() {
    for (std::size_t done = 0; done < buffer_.size();) {
        const ssize_t wrote = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "cannot write a log file");
        }
        done += static_cast<std::size_t>(wrote);
    }
    flushed_ += buffer_.size();
    buffer_.clear();
}

} // namespace fernhollow::bench
