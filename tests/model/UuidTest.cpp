#include "model/Uuid.h"
#include "model/UsageRecord.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace fernhollow {
// Internal linkage keeps this printer private to this file while ADL still finds it.
static void PrintTo(const Uuid& uuid, std::ostream* os) {
    *os << uuid.toString();
}
} // namespace fernhollow

namespace {

using fernhollow::Uuid;
using namespace std::string_literals;

constexpr char sampleText[] = "01234567-89AB-CDEF-FEDC-BA9876543210";
constexpr Uuid sampleUuid{0x0123456789ABCDEF, 0xFEDCBA9876543210};

TEST(UuidRandom, HasVersion4AndTheRfc4122Variant) {
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        SCOPED_TRACE(uuid.toString());
        EXPECT_EQ((uuid.high >> 12) & 0xF, 4u);
        EXPECT_EQ(uuid.low >> 62, 2u);
        const std::string text = uuid.toString();
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
    }
}

// Only the version and variant bits are fixed; every other bit must vary or ids collide.
TEST(UuidRandom, EveryOtherBitVaries) {
    std::uint64_t highOnes = 0;
    std::uint64_t highZeros = 0;
    std::uint64_t lowOnes = 0;
    std::uint64_t lowZeros = 0;
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        highOnes |= uuid.high;
        highZeros |= ~uuid.high;
        lowOnes |= uuid.low;
        lowZeros |= ~uuid.low;
    }
    const std::uint64_t highFixed = 0xF000;
    const std::uint64_t lowFixed = std::uint64_t{0xC} << 60;
    EXPECT_EQ(highOnes & highZeros, ~highFixed);
    EXPECT_EQ(lowOnes & lowZeros, ~lowFixed);
}

TEST(UuidRandom, IdsFromConcurrentThreadsAreDistinct) {
    constexpr int threadCount = 4;
    constexpr int perThread = 50'000;
    std::vector<std::vector<Uuid>> drawn(threadCount);
    std::vector<std::thread> threads;
    for (auto& ids : drawn) {
        threads.emplace_back([&ids] {
            ids.reserve(perThread);
            for (int i = 0; i < perThread; ++i) {
                ids.push_back(Uuid::random());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::unordered_set<Uuid> all;
    for (const auto& ids : drawn) {
        all.insert(ids.begin(), ids.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(threadCount * perThread));
}

TEST(UuidText, ToStringIsCanonicalUpperCase) {
    EXPECT_EQ(sampleUuid.toString(), sampleText);
    EXPECT_EQ((Uuid{0, 0}).toString(), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ((Uuid{~std::uint64_t{0}, ~std::uint64_t{0}}).toString(),
              "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
    for (int i = 0; i < 100; ++i) {
        const std::string text = Uuid::random().toString();
        SCOPED_TRACE(text);
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23) {
                EXPECT_EQ(text[k], '-');
            } else {
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[k])) ||
                            (text[k] >= 'A' && text[k] <= 'F'));
            }
        }
    }
}

TEST(UuidText, AppendToKeepsEarlierText) {
    std::string out = "id=";
    sampleUuid.appendTo(out);
    out += ";";
    sampleUuid.appendTo(out);
    EXPECT_EQ(out, "id="s + sampleText + ";" + sampleText);
}

TEST(UuidText, ParsesCanonicalText) {
    EXPECT_EQ(Uuid::fromCanonicalString(sampleText), sampleUuid);
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(Uuid::fromCanonicalString(uuid.toString()), uuid);
    }
}

TEST(UuidText, RejectsAnythingButCanonicalText) {
    for (const std::string text : {
             "01234567-89ab-cdef-fedc-ba9876543210",
             "01234567-89AB-CDEF-FEDC-BA987654321a",
             "0123456789ABCDEFFEDCBA9876543210",
             "01234567-89AB-CDEF-FEDC-BA987654321",
             "01234567-89AB-CDEF-FEDC-BA98765432100",
             "0123456-789AB-CDEF-FEDC-BA9876543210",
             "01234567-89ABC-DEF-FEDC-BA9876543210",
             "01234567-89AB-CDEF-FEDCB-A9876543210",
             "01234567089AB-CDEF-FEDC-BA9876543210",
             "01234567-89AB-CDEF-FEDC-BA98765432G0",
             "01234567-89AB-CDEF-FEDC-BA98765432\xC3\x89",
             "01234567-89AB-CDEF-FEDC-BA98765432:0",
             "01234567-89AB-CDEF-FEDC-BA98765432 0",
             "0123456--89AB-CDEF-FEDC-BA9876543210",
             "+1234567-89AB-CDEF-FEDC-BA9876543210",
             "{01234567-89AB-CDEF-FEDC-BA98765432}",
             "------------------------------------",
             "",
         }) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Uuid::fromCanonicalString(text), std::nullopt);
    }
}

TEST(UuidHash, EqualIdsHashEqualAndNeighboursDiffer) {
    const std::hash<Uuid> hash;
    EXPECT_EQ(hash(sampleUuid), hash(*Uuid::fromCanonicalString(sampleText)));
    EXPECT_NE(hash(sampleUuid), hash(Uuid{sampleUuid.high ^ 1, sampleUuid.low}));
    EXPECT_NE(hash(sampleUuid), hash(Uuid{sampleUuid.high, sampleUuid.low ^ 1}));
    EXPECT_NE(hash(sampleUuid), hash(Uuid{sampleUuid.low, sampleUuid.high}));
}

} // namespace
