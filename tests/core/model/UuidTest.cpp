#include "core/model/Uuid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

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

TEST(UuidText, IsCanonicalUpperCaseAndNothingElseReadsBack) {
    EXPECT_EQ(Uuid::fromCanonicalString(sampleText), sampleUuid);
    std::string out = "id=";
    sampleUuid.appendTo(out);
    out += ";";
    (Uuid{~std::uint64_t{0}, 0}).appendTo(out);
    EXPECT_EQ(out, "id="s + sampleText + ";FFFFFFFF-FFFF-FFFF-0000-000000000000");
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

} // namespace
