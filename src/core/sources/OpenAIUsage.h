#pragma once

#include "core/model/UsageRecord.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The answer of the OpenAI organization usage API (completions, grouped by model and day).
namespace fernhollow::OpenAIUsage {

struct DecodeFailure {
    std::string message;
};

// One record per result of each daily bucket, in answer order. Strict: "data", each bucket's
// "start_time" and "results", and each result's "model" are required; every member present
// must have its kind (an optional count may be null). Members not listed are ignored.
std::variant<std::vector<UsageRecord>, DecodeFailure> decodeUsage(std::string_view body);

} // namespace fernhollow::OpenAIUsage
