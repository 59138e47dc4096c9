#include "core/sources/OpenAIUsage.h"

namespace fernhollow::OpenAIUsage {
namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

std::string place(std::string_view path, std::string_view member) {
    return std::string(path) + "." + std::string(member);
}

const char* kindName(element_type type) {
    switch (type) {
    case element_type::ARRAY:
        return "an array";
    case element_type::OBJECT:
        return "an object";
    case element_type::INT64:
        return "an integer";
    case element_type::UINT64:
        return "an integer beyond 64 signed bits";
    case element_type::DOUBLE:
        return "a number with a fraction";
    case element_type::STRING:
        return "a string";
    case element_type::BOOL:
        return "a boolean";
    case element_type::NULL_VALUE:
        return "null";
    }
    return "something else";
}

// The member's value, or why there is none that can be used.
std::variant<element, DecodeFailure> required(simdjson::dom::object object, std::string_view path,
                                              std::string_view member, element_type kind,
                                              const char* kindWanted) {
    element value;
    if (object[member].get(value) != simdjson::SUCCESS) {
        return DecodeFailure{"missing member \"" + std::string(member) + "\" in " + std::string(path)};
    }
    if (value.type() != kind) {
        return DecodeFailure{place(path, member) + " should be " + kindWanted + " but is " +
                             kindName(value.type())};
    }
    return value;
}

std::variant<std::int64_t, DecodeFailure> optionalCount(simdjson::dom::object object, std::string_view path,
                                                        std::string_view member) {
    element value;
    if (object[member].get(value) != simdjson::SUCCESS || value.is_null()) {
        return std::int64_t{0};
    }
    if (value.type() != element_type::INT64) {
        return DecodeFailure{place(path, member) + " should be an integer but is " + kindName(value.type())};
    }
    return value.get_int64().value_unsafe();
}

} // namespace

std::variant<std::vector<UsageRecord>, DecodeFailure> decodeUsage(std::string_view body) {
    simdjson::dom::parser parser;
    element document;
    if (const auto error = parser.parse(body.data(), body.size()).get(document); error != simdjson::SUCCESS) {
        return DecodeFailure{std::string("the answer is not valid JSON: ") + simdjson::error_message(error)};
    }
    simdjson::dom::object envelope;
    if (document.get_object().get(envelope) != simdjson::SUCCESS) {
        return DecodeFailure{std::string("the answer should be an object but is ") +
                             kindName(document.type())};
    }
    const auto data = required(envelope, "the answer", "data", element_type::ARRAY, "an array");
    if (const auto* failure = std::get_if<DecodeFailure>(&data)) {
        return *failure;
    }
    std::vector<UsageRecord> records;
    std::size_t bucketIndex = 0;
    const simdjson::dom::array buckets = std::get<element>(data).get_array().value_unsafe();
    for (const element bucketElement : buckets) {
        const std::string bucketPath = "data[" + std::to_string(bucketIndex++) + "]";
        simdjson::dom::object bucket;
        if (bucketElement.get_object().get(bucket) != simdjson::SUCCESS) {
            return DecodeFailure{bucketPath + " should be an object but is " +
                                 kindName(bucketElement.type())};
        }
        const auto start = required(bucket, bucketPath, "start_time", element_type::INT64, "an integer");
        const auto results = required(bucket, bucketPath, "results", element_type::ARRAY, "an array");
        for (const auto* failure :
             {std::get_if<DecodeFailure>(&start), std::get_if<DecodeFailure>(&results)}) {
            if (failure != nullptr) {
                return *failure;
            }
        }
        const std::int64_t startTime = std::get<element>(start).get_int64().value_unsafe();
        std::size_t resultIndex = 0;
        const simdjson::dom::array resultList = std::get<element>(results).get_array().value_unsafe();
        for (const element resultElement : resultList) {
            const std::string resultPath = bucketPath + ".results[" + std::to_string(resultIndex++) + "]";
            simdjson::dom::object result;
            if (resultElement.get_object().get(result) != simdjson::SUCCESS) {
                return DecodeFailure{resultPath + " should be an object but is " +
                                     kindName(resultElement.type())};
            }
            const auto model = required(result, resultPath, "model", element_type::STRING, "a string");
            const auto input = optionalCount(result, resultPath, "input_tokens");
            const auto output = optionalCount(result, resultPath, "output_tokens");
            const auto cached = optionalCount(result, resultPath, "input_cached_tokens");
            const auto requests = optionalCount(result, resultPath, "num_model_requests");
            for (const auto* failure :
                 {std::get_if<DecodeFailure>(&model), std::get_if<DecodeFailure>(&input),
                  std::get_if<DecodeFailure>(&output), std::get_if<DecodeFailure>(&cached),
                  std::get_if<DecodeFailure>(&requests)}) {
                if (failure != nullptr) {
                    return *failure;
                }
            }
            const std::string modelName(std::get<element>(model).get_string().value_unsafe());
            records.push_back(UsageRecord{Uuid::random(),
                                          "openai:" + std::to_string(startTime) + ":" + modelName,
                                          static_cast<double>(startTime), modelName,
                                          std::get<std::int64_t>(input), std::get<std::int64_t>(output), 0, 0,
                                          std::get<std::int64_t>(cached), "openai", "openai-" + modelName});
        }
    }
    return records;
}

} // namespace fernhollow::OpenAIUsage
