#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// libFuzzer's entry point, defined by every harness: the fuzzer calls it with each input it
// makes, the replay program with each saved one. The return value is always 0.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fernhollow::fuzz {

// The readers under test take their bytes as text.
inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace fernhollow::fuzz
