#include "platform/system/Keychain.h"

#include <QCoroTask>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace fernhollow {
namespace {

const QString account = QString::fromLatin1(Keychain::openAIAccount);

// What the desktop's own tool finds under our service and account: the proof that the
// secret is in the Secret Service, where other programs see it, and not somewhere private.
std::optional<std::string> lookUpWithSecretTool(const QString& accountName) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"), QString::fromLatin1(Keychain::service),
                QStringLiteral("user"), accountName});
    if (!tool.waitForFinished() || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        return std::nullopt;
    }
    return tool.readAllStandardOutput().toStdString();
}

class KeychainTest : public testing::Test {
protected:
    void TearDown() override { QCoro::waitFor(Keychain::remove(account)); }
};

TEST_F(KeychainTest, StoresReplacesAndForgetsTheSecretInTheSecretService) {
    // The second replaces the first, any text whole.
    for (const QString& secret : {QStringLiteral("sk-admin-first"), QStringLiteral("clé ✓ 🔑")}) {
        ASSERT_TRUE(QCoro::waitFor(Keychain::set(secret, account)));
        EXPECT_EQ(QCoro::waitFor(Keychain::get(account)), secret);
        EXPECT_EQ(lookUpWithSecretTool(account), secret.toStdString());
    }
    EXPECT_TRUE(QCoro::waitFor(Keychain::remove(account)));
    EXPECT_EQ(QCoro::waitFor(Keychain::get(account)), std::nullopt);
    EXPECT_EQ(lookUpWithSecretTool(account), std::nullopt);
    // Forgetting what is not there is no failure.
    EXPECT_TRUE(QCoro::waitFor(Keychain::remove(account)));
}

} // namespace
} // namespace fernhollow
