#include "model/Utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using fernhollow::utf8::isValid;
using fernhollow::utf8::toValid;
using namespace std::string_literals;

const std::string replacement = "\xEF\xBF\xBD";

// Hex dump so a failing case shows which bytes came out.
std::string hex(const std::string& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
        out += ' ';
    }
    return out;
}

TEST(Utf8ToValid, KeepsValidText) {
    for (const std::string& text : {
             ""s,
             "plain ascii /path/to/project"s,
             "\0embedded\0nul"s,
             "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"s,
             "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s,
             "\xED\x9F\xBF\xEE\x80\x80"s,
         }) {
        SCOPED_TRACE(hex(text));
        EXPECT_EQ(toValid(text), text);
    }
}

TEST(Utf8ToValid, ReplacesAStrayByteAndKeepsItsNeighbours) {
    EXPECT_EQ(toValid("a\xFF"
                      "b"),
              "a" + replacement + "b");
    EXPECT_EQ(toValid("Caf\xC3\xA9\xFF\xE2\x82\xAC"), "Caf\xC3\xA9" + replacement + "\xE2\x82\xAC");
    EXPECT_EQ(toValid("\x80"), replacement);
    EXPECT_EQ(toValid("\xF0\x9F\x98\x80\xBF\xF0\x9F\x98\x80"),
              "\xF0\x9F\x98\x80" + replacement + "\xF0\x9F\x98\x80");
}

struct IllFormed {
    std::string name;
    std::string bytes;
    int replacements;
};

// Each case is surrounded by ASCII so a replacement that swallows a neighbour shows up.
TEST(Utf8ToValid, ReplacesEachByteOfAnIllFormedSequence) {
    const std::vector<IllFormed> cases = {
        {"overlong NUL", "\xC0\x80", 2},
        {"overlong two-byte", "\xC1\xBF", 2},
        {"overlong three-byte", "\xE0\x80\xAF", 3},
        {"overlong four-byte", "\xF0\x80\x80\xAF", 4},
        {"high surrogate", "\xED\xA0\x80", 3},
        {"low surrogate", "\xED\xBF\xBF", 3},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 4},
        {"lead byte F5", "\xF5\x80\x80\x80", 4},
        {"lead byte FE", "\xFE", 1},
    };
    for (const auto& [name, bytes, replacements] : cases) {
        SCOPED_TRACE(name);
        std::string expected = "<";
        for (int i = 0; i < replacements; ++i) {
            expected += replacement;
        }
        expected += ">";
        const std::string result = toValid("<" + bytes + ">");
        EXPECT_EQ(result, expected) << hex(result);
    }
}

TEST(Utf8ToValid, ReplacesTruncatedSequences) {
    for (const std::string truncated : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xF0\x9F"}) {
        SCOPED_TRACE(hex(truncated));
        const std::string atEnd = toValid("abc" + truncated);
        EXPECT_TRUE(isValid(atEnd)) << hex(atEnd);
        EXPECT_EQ(atEnd.substr(0, 3), "abc");
        EXPECT_NE(atEnd.find(replacement), std::string::npos);
        EXPECT_EQ(atEnd.find_first_not_of(replacement, 3), std::string::npos) << hex(atEnd);

        const std::string beforeText = toValid(truncated + "Z\xC3\xA9");
        EXPECT_TRUE(isValid(beforeText)) << hex(beforeText);
        ASSERT_GE(beforeText.size(), 3u);
        EXPECT_EQ(beforeText.substr(beforeText.size() - 3), "Z\xC3\xA9") << hex(beforeText);
        EXPECT_EQ(beforeText.find_first_not_of(replacement), beforeText.size() - 3) << hex(beforeText);
    }
}

// Whatever the input, the output is valid, and valid input passes through untouched.
TEST(Utf8ToValid, OutputIsAlwaysValid) {
    std::mt19937 random(20251105);
    const std::string alphabet =
        "a\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFF"s + '\0';
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(1, 8);
    for (int i = 0; i < 100'000; ++i) {
        std::string bytes;
        for (int n = length(random); n > 0; --n) {
            bytes.push_back(alphabet[pick(random)]);
        }
        const std::string result = toValid(bytes);
        ASSERT_TRUE(isValid(result)) << hex(bytes) << "-> " << hex(result);
        if (isValid(bytes)) {
            ASSERT_EQ(result, bytes) << hex(bytes);
        }
    }
}

} // namespace
