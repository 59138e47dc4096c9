#pragma once

#include "platform/settings/PreferencesStore.h"

#include <QJsonObject>

#include <filesystem>

namespace fernhollow {

// Preferences kept in one JSON object file, rewritten atomically on every change.
// A damaged file is never overwritten: before the first write it is moved aside to
// "<file>.corrupt", and until then the store reads as empty.
class JsonPreferencesFile final : public PreferencesStore {
public:
    explicit JsonPreferencesFile(std::filesystem::path path);

    std::optional<QJsonValue> value(const QString& key) const override;
    void setValue(const QString& key, const QJsonValue& value) override;

private:
    std::filesystem::path path_;
    QJsonObject values_;
    bool damaged_ = false;
};

} // namespace fernhollow
