#pragma once

#include <QCoroTask>
#include <QString>

#include <optional>

// Secrets in the desktop's secret store (the Secret Service on Linux), under the service
// "app.fernhollow.menubar" and an account name per secret. Never in a plain file.
namespace fernhollow::Keychain {

inline constexpr auto service = "app.fernhollow.menubar";
inline constexpr auto openAIAccount = "openai.api_key";

// Stores the secret, replacing any earlier one; true when it is stored.
QCoro::Task<bool> set(QString secret, QString account);

// The stored secret; nothing when there is none or the store refuses.
QCoro::Task<std::optional<QString>> get(QString account);

// True when the secret is gone, including when there was none.
QCoro::Task<bool> remove(QString account);

} // namespace fernhollow::Keychain
