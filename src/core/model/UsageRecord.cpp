#include "core/model/UsageRecord.h"

#include "core/model/IsoDate.h"
#include "core/model/JsonWriter.h"

namespace fernhollow {
void UsageRecordJsonWriter::append(std::string& out, const UsageRecord& record) {
    using json::Slash;
    out += "{\"id\":\"";
    record.id.appendTo(out);
    out += "\",\"messageId\":";
    json::appendString(out, record.messageId, Slash::escaped);
    out += ",\"timestamp\":\"";
    isodate::appendUtcWholeSeconds(out, record.timestamp);
    out += "\",\"model\":";
    out += escaped(record.model);
    out += ",\"inputTokens\":";
    json::appendInteger(out, record.inputTokens);
    out += ",\"outputTokens\":";
    json::appendInteger(out, record.outputTokens);
    out += ",\"cacheCreationInputTokens\":";
    json::appendInteger(out, record.cacheCreationInputTokens);
    out += ",\"cacheCreation1hTokens\":";
    json::appendInteger(out, record.cacheCreation1hTokens);
    out += ",\"cacheReadInputTokens\":";
    json::appendInteger(out, record.cacheReadInputTokens);
    out += ",\"projectPath\":";
    out += escaped(record.projectPath);
    out += ",\"sessionId\":";
    out += escaped(record.sessionId);
    out.push_back('}');
}

const std::string& UsageRecordJsonWriter::escaped(const InternedString& text) {
    auto [it, inserted] = escaped_.try_emplace(text.identity());
    if (inserted) {
        json::appendString(it->second, text, json::Slash::escaped);
    }
    return it->second;
}

void appendJson(std::string& out, const UsageRecord& record) {
    UsageRecordJsonWriter().append(out, record);
}

std::optional<UsageRecord> usageRecordFromJson(simdjson::dom::element element) {
    enum Member : unsigned {
        id = 1 << 0,
        messageId = 1 << 1,
        timestamp = 1 << 2,
        model = 1 << 3,
        input = 1 << 4,
        output = 1 << 5,
        cacheCreation = 1 << 6,
        cacheCreation1h = 1 << 7,
        cacheRead = 1 << 8,
        projectPath = 1 << 9,
        sessionId = 1 << 10,
        all = (1 << 11) - 1,
    };
    simdjson::dom::object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    UsageRecord record;
    unsigned found = 0;
    const auto text = [&](simdjson::dom::element member, auto& out, Member which) {
        std::string_view view;
        if (member.get_string().get(view) != simdjson::SUCCESS) {
            return false;
        }
        out = view;
        found |= which;
        return true;
    };
    // Only an integer literal that fits: "1.0", "1e3" or a string are not token counts.
    const auto integer = [&](simdjson::dom::element member, std::int64_t& out, Member which) {
        if (member.type() != simdjson::dom::element_type::INT64) {
            return false;
        }
        out = member.get_int64().value_unsafe();
        found |= which;
        return true;
    };
    // One pass over the members in document order: millions of records are read this way.
    for (const auto [key, member] : object) {
        bool ok = true;
        if (key == "id") {
            std::string_view idText;
            const auto uuid = member.get_string().get(idText) == simdjson::SUCCESS
                                  ? Uuid::fromCanonicalString(idText)
                                  : std::nullopt;
            ok = uuid.has_value();
            record.id = uuid.value_or(Uuid{});
            found |= id;
        } else if (key == "timestamp") {
            std::string_view timeText;
            const auto time = member.get_string().get(timeText) == simdjson::SUCCESS
                                  ? isodate::parseUtcWholeSeconds(timeText)
                                  : std::nullopt;
            ok = time.has_value();
            record.timestamp = time.value_or(0.0);
            found |= timestamp;
        } else if (key == "messageId") {
            ok = text(member, record.messageId, messageId);
        } else if (key == "model") {
            ok = text(member, record.model, model);
        } else if (key == "projectPath") {
            ok = text(member, record.projectPath, projectPath);
        } else if (key == "sessionId") {
            ok = text(member, record.sessionId, sessionId);
        } else if (key == "inputTokens") {
            ok = integer(member, record.inputTokens, input);
        } else if (key == "outputTokens") {
            ok = integer(member, record.outputTokens, output);
        } else if (key == "cacheCreationInputTokens") {
            ok = integer(member, record.cacheCreationInputTokens, cacheCreation);
        } else if (key == "cacheCreation1hTokens") {
            ok = integer(member, record.cacheCreation1hTokens, cacheCreation1h);
        } else if (key == "cacheReadInputTokens") {
            ok = integer(member, record.cacheReadInputTokens, cacheRead);
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (found != all) {
        return std::nullopt;
    }
    return record;
}

std::optional<UsageRecord> usageRecordFromJson(std::string_view json) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    if (parser.parse(json.data(), json.size()).get(element) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return usageRecordFromJson(element);
}

} // namespace fernhollow
