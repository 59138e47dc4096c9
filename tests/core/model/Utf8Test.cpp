#include "core/model/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using fernhollow::utf8::toValid;
using fernhollow::utf8::unfinishedEndLength;
using namespace std::string_literals;

const std::string replacement = "\xEF\xBF\xBD";

// Hex dump so a failing case shows which bytes came out.
std::string hex(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        out += "0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4];
        out += "0123456789ABCDEF"[c & 0xF];
        out += ' ';
    }
    return out;
}

TEST(Utf8ToValid, KeepsValidTextIncludingEveryBoundaryCodePoint) {
    for (const std::string& text :
         {""s, "plain ascii /path/to/project"s, "\0embedded\0nul"s,
          "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"s,
          "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s,
          "\xED\x9F\xBF\xEE\x80\x80"s}) {
        EXPECT_EQ(toValid(text), text) << hex(text);
    }
}

// Each case sits between multi-byte neighbours, so a replacement swallowing one shows, and at the end.
TEST(Utf8ToValid, ReplacesEachByteOfAnIllFormedOrTruncatedSequence) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"\xFF", 1},             // stray byte
        {"\x80", 1},             // lone continuation byte
        {"\xC0\x80", 2},         // overlong NUL
        {"\xE0\x80\xAF", 3},     // overlong three-byte
        {"\xF0\x80\x80\xAF", 4}, // overlong four-byte
        {"\xED\xA0\x80", 3},     // high surrogate
        {"\xF4\x90\x80\x80", 4}, // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 4}, // lead byte F5
        {"\xC3", 1},             // truncated two-byte
        {"\xE2\x82", 2},         // truncated three-byte
        {"\xF0\x9F\x98", 3},     // truncated four-byte
    };
    for (const auto& [bytes, replacements] : cases) {
        std::string expected = "<\xC3\xA9";
        for (int i = 0; i < replacements; ++i) {
            expected += replacement;
        }
        const std::string result = toValid("<\xC3\xA9" + bytes + "\xF0\x9F\x98\x80>");
        EXPECT_EQ(result, expected + "\xF0\x9F\x98\x80>") << hex(bytes) << "-> " << hex(result);
        EXPECT_EQ(toValid("<\xC3\xA9" + bytes), expected) << hex(bytes);
    }
}

TEST(Utf8UnfinishedEnd, CountsOnlyTheStartOfACharacterStillToBeCompleted) {
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"caf\xC3\xA9", 0},          // whole
        {"caf\xC3", 1},              // two-byte, one short
        {"\xE2\x82", 2},             // three-byte, one short
        {"\xE2", 1},                 // three-byte, two short
        {"a\xF0\x9F\x98", 3},        // four-byte, one short
        {"\xE0\x80", 0},             // overlong whatever follows
        {"\xED\xA0", 0},             // a surrogate whatever follows
        {"\xF4\x90", 0},             // beyond U+10FFFF whatever follows
        {"\xC0", 0},                 // never a lead
        {"a\x80", 0},                // a continuation byte without a lead
        {"\xF0\x9F\x98\x80\x80", 0}, // one continuation byte too many
    };
    for (const auto& [bytes, length] : cases) {
        EXPECT_EQ(unfinishedEndLength(bytes), length) << hex(bytes);
    }
}

} // namespace
