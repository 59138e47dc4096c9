#include "ui/LoginItem.h"

#include "support/QtPrinters.h"
#include "support/TempTree.h"
#include "support/WithoutPermissionOverride.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace fernhollow;
using fernhollow::test::WithoutPermissionOverride;
using Status = LoginItem::Status;

constexpr auto enabledEntry = "[Desktop Entry]\nType=Application\nName=Fernhollow\nExec=/opt/fernhollow\n";

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes, QFile::Permissions permissions) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_TRUE(file.setPermissions(permissions));
}

constexpr QFile::Permissions executableMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions fileMode = QFile::ReadOwner | QFile::WriteOwner;

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { write(executable_, "#!/bin/sh\n", executableMode); }

    const test::TempTree tree_;
    const QString autostart_ = QString::fromStdString((tree_ / "autostart").string());
    const QString entry_ = autostart_ + QLatin1String("/fernhollow.desktop");
    const QString programs_ = QString::fromStdString((tree_ / "programs").string());
    const QString executable_ = programs_ + QLatin1String("/fernhollow");
};

TEST_F(LoginItemTest, StatusFollowsTheProgramAndTheEntry) {
    struct Case {
        const char* what;
        std::optional<QByteArray> entry;
        QString executable;
        Status expected;
    };
    const QString missing = programs_ + QLatin1String("/missing");
    const QString plainFile = programs_ + QLatin1String("/plain");
    write(plainFile, "#!/bin/sh\n", fileMode);
    const Case cases[] = {
        {"no entry", std::nullopt, executable_, Status::notRegistered},
        {"an entry", enabledEntry, executable_, Status::enabled},
        {"hidden", QByteArray(enabledEntry) + "Hidden=true\n", executable_, Status::notRegistered},
        {"hidden, spaced", QByteArray(enabledEntry) + "Hidden = true\n", executable_, Status::notRegistered},
        {"turned off in GNOME", QByteArray(enabledEntry) + "X-GNOME-Autostart-enabled=false\n", executable_,
         Status::notRegistered},
        {"explicitly shown", QByteArray(enabledEntry) + "Hidden=false\nX-GNOME-Autostart-enabled=true\n",
         executable_, Status::enabled},
        {"hidden in another group", QByteArray(enabledEntry) + "[Desktop Action quit]\nHidden=true\n",
         executable_, Status::enabled},
        {"program missing", enabledEntry, missing, Status::notFound},
        {"program not executable", enabledEntry, plainFile, Status::notFound},
        {"program a folder", std::nullopt, programs_, Status::notFound},
    };
    for (const auto& [what, entry, executable, expected] : cases) {
        QFile::remove(entry_);
        if (entry) {
            write(entry_, *entry, fileMode);
        }
        EXPECT_EQ(LoginItem(entry_, executable).status(), expected) << what;
    }
}

// GLib's launcher, as GNOME's session uses it, runs the program the entry names, quoted
// through both the desktop file's escapes and its quotes. It looks for the program before it
// expands "%%", so a "%" in the path is checked in the entry's text only.
TEST_F(LoginItemTest, ADesktopLauncherRunsTheEntry) {
    const QString marker = programs_ + QLatin1String("/started");
    const QString executable = programs_ + QLatin1String(R"(/My "Apps" $HOME\bin `x`/fern hollow)");
    write(executable,
          "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.toUtf8() + ".new' && mv '" + marker.toUtf8() +
              ".new' '" + marker.toUtf8() + "'\n",
          executableMode);
    // Turned off in the desktop's settings, turned on again here: the whole entry is rewritten.
    write(entry_, QByteArray(enabledEntry) + "Hidden=true\n", fileMode);
    ASSERT_EQ(LoginItem(entry_, executable).set(true), std::nullopt);
    EXPECT_EQ(LoginItem(entry_, executable).status(), Status::enabled);
    const QList<QByteArray> lines = readAll(entry_).split('\n');
    EXPECT_EQ(lines.front(), "[Desktop Entry]");
    EXPECT_FALSE(lines.contains("Hidden=true"));
    for (const QByteArray& line :
         {QByteArray("Type=Application"), QByteArray("Name=Fernhollow"), QByteArray("Icon=fernhollow"),
          QByteArray("Terminal=false"), QByteArray("X-GNOME-Autostart-enabled=true"),
          QByteArray("Comment=API-equivalent spend of your AI coding agents")}) {
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    }

    QProcess launcher;
    launcher.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry_});
    ASSERT_TRUE(launcher.waitForFinished(30'000));
    EXPECT_EQ(launcher.exitCode(), 0) << launcher.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10'000));
    EXPECT_EQ(QString::fromUtf8(readAll(marker)), executable);

    const QString percent = programs_ + QLatin1String("/50% off");
    write(percent, "#!/bin/sh\n", executableMode);
    ASSERT_TRUE(QFile::remove(entry_));
    ASSERT_EQ(LoginItem(entry_, percent).set(true), std::nullopt);
    EXPECT_TRUE(readAll(entry_).contains("\nExec=\"" + programs_.toUtf8() + "/50%% off\"\n"));
}

TEST_F(LoginItemTest, FailuresAreToldAndLeaveNoBrokenEntry) {
    const std::optional<QString> noProgram =
        LoginItem(entry_, programs_ + QLatin1String("/missing")).set(true);
    ASSERT_TRUE(noProgram);
    EXPECT_EQ(*noProgram, "Could not find the Fernhollow program to start at login.");
    EXPECT_FALSE(QFile::exists(entry_));

    ASSERT_TRUE(QDir().mkpath(autostart_));
    ASSERT_TRUE(QFile::setPermissions(autostart_, QFile::ReadOwner | QFile::ExeOwner));
    {
        const WithoutPermissionOverride asAnyUser;
        EXPECT_EQ(LoginItem(entry_, executable_).set(true),
                  QStringLiteral("Could not write %1: Permission denied").arg(entry_));
        EXPECT_EQ(QDir(autostart_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }
}

} // namespace
