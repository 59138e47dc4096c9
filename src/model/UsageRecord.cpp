#include "model/UsageRecord.h"

#include "model/IsoDate.h"
#include "model/JsonWriter.h"

namespace fernhollow {
namespace {

std::optional<std::string_view> stringMember(simdjson::dom::object object, std::string_view key) {
    std::string_view value;
    if (object[key].get_string().get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// Only a JSON integer literal that fits in 64 signed bits; "1.0" or "1e3" are refused.
std::optional<std::int64_t> integerMember(simdjson::dom::object object, std::string_view key) {
    simdjson::dom::element element;
    if (object[key].get(element) != simdjson::SUCCESS ||
        element.type() != simdjson::dom::element_type::INT64) {
        return std::nullopt;
    }
    return element.get_int64().value_unsafe();
}

void appendKey(std::string& out, std::string_view key) {
    out.push_back('"');
    out += key;
    out += "\":";
}

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

} // namespace

void appendJson(std::string& out, const UsageRecord& record) {
    using json::Slash;
    out += "{\"id\":\"";
    out += record.id.toString();
    out += "\",";
    appendKey(out, "messageId");
    json::appendString(out, record.messageId, Slash::escaped);
    out += ",\"timestamp\":\"";
    out += isodate::formatUtcWholeSeconds(record.timestamp);
    out += "\",";
    appendKey(out, "model");
    json::appendString(out, record.model, Slash::escaped);
    const std::pair<std::string_view, std::int64_t> counts[] = {
        {"inputTokens", record.inputTokens},
        {"outputTokens", record.outputTokens},
        {"cacheCreationInputTokens", record.cacheCreationInputTokens},
        {"cacheCreation1hTokens", record.cacheCreation1hTokens},
        {"cacheReadInputTokens", record.cacheReadInputTokens},
    };
    for (const auto& [key, value] : counts) {
        out.push_back(',');
        appendKey(out, key);
        json::appendInteger(out, value);
    }
    out.push_back(',');
    appendKey(out, "projectPath");
    json::appendString(out, record.projectPath, Slash::escaped);
    out.push_back(',');
    appendKey(out, "sessionId");
    json::appendString(out, record.sessionId, Slash::escaped);
    out.push_back('}');
}

std::optional<UsageRecord> usageRecordFromJson(simdjson::dom::element element) {
    simdjson::dom::object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    const auto idText = stringMember(object, "id");
    const auto messageId = stringMember(object, "messageId");
    const auto timestampText = stringMember(object, "timestamp");
    const auto model = stringMember(object, "model");
    const auto input = integerMember(object, "inputTokens");
    const auto output = integerMember(object, "outputTokens");
    const auto cacheCreation = integerMember(object, "cacheCreationInputTokens");
    const auto cacheCreation1h = integerMember(object, "cacheCreation1hTokens");
    const auto cacheRead = integerMember(object, "cacheReadInputTokens");
    const auto projectPath = stringMember(object, "projectPath");
    const auto sessionId = stringMember(object, "sessionId");
    if (!idText || !messageId || !timestampText || !model || !input || !output || !cacheCreation ||
        !cacheCreation1h || !cacheRead || !projectPath || !sessionId) {
        return std::nullopt;
    }
    const auto id = Uuid::fromCanonicalString(*idText);
    const auto timestamp = isodate::parseUtcWholeSeconds(*timestampText);
    if (!id || !timestamp) {
        return std::nullopt;
    }
    return UsageRecord{*id,
                       std::string(*messageId),
                       *timestamp,
                       std::string(*model),
                       *input,
                       *output,
                       *cacheCreation,
                       *cacheCreation1h,
                       *cacheRead,
                       std::string(*projectPath),
                       std::string(*sessionId)};
}

} // namespace fernhollow

std::size_t std::hash<fernhollow::Uuid>::operator()(const fernhollow::Uuid& uuid) const noexcept {
    return std::hash<std::uint64_t>{}(uuid.high ^ (uuid.low * 0x9e3779b97f4a7c15ULL));
}

std::size_t
std::hash<fernhollow::UsageRecord>::operator()(const fernhollow::UsageRecord& record) const noexcept {
    using fernhollow::combine;
    std::size_t seed = std::hash<fernhollow::Uuid>{}(record.id);
    combine(seed, std::hash<std::string>{}(record.messageId));
    combine(seed, std::hash<double>{}(record.timestamp));
    combine(seed, std::hash<std::string>{}(record.model));
    for (const std::int64_t count : {record.inputTokens, record.outputTokens, record.cacheCreationInputTokens,
                                     record.cacheCreation1hTokens, record.cacheReadInputTokens}) {
        combine(seed, std::hash<std::int64_t>{}(count));
    }
    combine(seed, std::hash<std::string>{}(record.projectPath));
    combine(seed, std::hash<std::string>{}(record.sessionId));
    return seed;
}
