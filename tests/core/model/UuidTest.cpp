#include "core/model/Uuid.h"
#include "core/model/UsageRecord.h"

#include <gtest/gtest.h>

#include <cstdint>
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

// Only the version and variant bits are fixed; every other bit must vary or ids collide.
TEST(UuidRandom, IsVersion4WithTheRfc4122VariantAndEveryOtherBitVaries) {
    constexpr std::uint64_t highFixed = 0xF000;
    constexpr std::uint64_t lowFixed = std::uint64_t{0xC} << 60;
    std::uint64_t highOnes = 0, highZeros = 0, lowOnes = 0, lowZeros = 0;
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.high & highFixed, 0x4000u) << uuid.toString();
        EXPECT_EQ(uuid.low & lowFixed, std::uint64_t{0x8} << 60) << uuid.toString();
        EXPECT_EQ(Uuid::fromCanonicalString(uuid.toString()), uuid);
        highOnes |= uuid.high;
        highZeros |= ~uuid.high;
        lowOnes |= uuid.low;
        lowZeros |= ~uuid.low;
    }
    EXPECT_EQ(highOnes & highZeros, ~highFixed);
    EXPECT_EQ(lowOnes & lowZeros, ~lowFixed);
}

TEST(UuidRandom, IdsFromConcurrentThreadsAreDistinct) {
    constexpr int perThread = 50'000;
    std::vector<std::vector<Uuid>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& ids : drawn) {
        threads.emplace_back([&ids] {
            for (int i = 0; i < perThread; ++i) {
                ids.push_back(Uuid::random());
            }
        });
    }
    std::unordered_set<Uuid> all;
    for (std::size_t t = 0; t < threads.size(); ++t) {
        threads[t].join();
        all.insert(drawn[t].begin(), drawn[t].end());
    }
    EXPECT_EQ(all.size(), drawn.size() * perThread);
}

TEST(UuidText, IsCanonicalUpperCaseAndReadsBack) {
    EXPECT_EQ(sampleUuid.toString(), sampleText);
    EXPECT_EQ(Uuid::fromCanonicalString(sampleText), sampleUuid);
    EXPECT_EQ((Uuid{0, 0}).toString(), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ((Uuid{~std::uint64_t{0}, ~std::uint64_t{0}}).toString(),
              "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
    std::string out = "id=";
    sampleUuid.appendTo(out);
    out += ";";
    sampleUuid.appendTo(out);
    EXPECT_EQ(out, "id="s + sampleText + ";" + sampleText);
}

TEST(UuidText, RejectsAnythingButCanonicalText) {
    for (const std::string text :
         {"01234567-89AB-CDEF-FEDC-BA987654321a", "0123456789ABCDEFFEDCBA9876543210",
          "01234567-89AB-CDEF-FEDC-BA987654321", "01234567-89AB-CDEF-FEDC-BA98765432100",
          "0123456-789AB-CDEF-FEDC-BA9876543210", "01234567-89AB-CDEF-FEDCB-A9876543210",
          "01234567-89AB-CDEF-FEDC-BA98765432G0", "01234567-89AB-CDEF-FEDC-BA98765432:0",
          "01234567-89AB-CDEF-FEDC-BA98765432\xC3\x89", "+1234567-89AB-CDEF-FEDC-BA9876543210",
          "------------------------------------", ""}) {
        EXPECT_EQ(Uuid::fromCanonicalString(text), std::nullopt) << text;
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
