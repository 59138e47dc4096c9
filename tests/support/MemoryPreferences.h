#pragma once

#include "platform/settings/PreferencesStore.h"

#include <map>

namespace fernhollow::test {

// Preferences held in memory, counting the writes.
class MemoryPreferences final : public PreferencesStore {
public:
    std::optional<QJsonValue> value(const QString& key) const override {
        const auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional<QJsonValue>(it->second);
    }
    void setValue(const QString& key, const QJsonValue& value) override {
        values[key] = value;
        ++writes;
    }

    std::map<QString, QJsonValue> values;
    int writes = 0;
};

} // namespace fernhollow::test
