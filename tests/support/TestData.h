#pragma once

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace fernhollow::test {

// The bytes of a fixture below tests/data; a missing one fails the test.
inline std::string dataText(std::string_view relative) {
    const auto text = readFile(std::string(FERNHOLLOW_TEST_DATA_DIR) + "/" + std::string(relative));
    EXPECT_TRUE(text.has_value()) << relative;
    return text.value_or("");
}

} // namespace fernhollow::test
