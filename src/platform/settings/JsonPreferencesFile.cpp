#include "platform/settings/JsonPreferencesFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace fernhollow {

JsonPreferencesFile::JsonPreferencesFile(std::filesystem::path path) : path_(std::move(path)) {
    QFile file(QString::fromStdString(path_.string()));
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        damaged_ = true;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        damaged_ = true;
        return;
    }
    values_ = document.object();
}

std::optional<QJsonValue> JsonPreferencesFile::value(const QString& key) const {
    const auto it = values_.constFind(key);
    if (it == values_.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void JsonPreferencesFile::setValue(const QString& key, const QJsonValue& value) {
    values_.insert(key, value);
    const QString path = QString::fromStdString(path_.string());
    if (damaged_) {
        // Keep what the user had: a hand-edited file with one typo is still worth reading.
        const QString aside = path + QLatin1String(".corrupt");
        QFile::remove(aside);
        if (!QFile::rename(path, aside) && QFile::exists(path)) {
            return;
        }
        damaged_ = false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(values_).toJson(QJsonDocument::Indented));
    file.commit();
}

} // namespace fernhollow
