#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

namespace fernhollow {

// A per-user key/value store that keeps types: the number 150, the string "150" and an
// absent key are three different answers.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;
    virtual std::optional<QJsonValue> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QJsonValue& value) = 0;
};

} // namespace fernhollow
