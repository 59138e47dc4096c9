// An answer of the OpenAI usage API: arbitrary bytes decoded into records or a failure.
#include "FuzzTarget.h"
#include "Require.h"

#include "core/sources/OpenAIUsage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fernhollow;
    const auto decoded = OpenAIUsage::decodeUsage(fuzz::asText(data, size));
    if (const auto* records = std::get_if<std::vector<UsageRecord>>(&decoded)) {
        for (const UsageRecord& record : *records) {
            fuzz::require(record.messageId.starts_with("openai:") && record.projectPath == "openai",
                          "an OpenAI record is marked as one");
        }
    } else {
        fuzz::require(!std::get<OpenAIUsage::DecodeFailure>(decoded).message.empty(),
                      "a refused answer is told why");
    }
    return 0;
}
