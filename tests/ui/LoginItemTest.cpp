#include "ui/LoginItem.h"

#include "support/QtPrinters.h"
#include "support/TempTree.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>

namespace {

using namespace fernhollow;
using Status = LoginItem::Status;

const std::string enabledEntry = "[Desktop Entry]\nType=Application\nName=Fernhollow\nExec=/opt/fernhollow\n";

// Writes `bytes` to `path`, executable or not.
void write(const QString& path, const std::string& bytes, bool executable) {
    const std::filesystem::path file = path.toStdString();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::filesystem::permissions(file, executable ? std::filesystem::perms::owner_all
                                                  : std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
}

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { write(executable_, "#!/bin/sh\n", true); }

    const test::TempTree tree_;
    const QString entry_ = QString::fromStdString((tree_ / "autostart/fernhollow.desktop").string());
    const QString programs_ = QString::fromStdString((tree_ / "programs").string());
    const QString executable_ = programs_ + QLatin1String("/fernhollow");
};

TEST_F(LoginItemTest, StatusFollowsTheProgramAndTheEntry) {
    const QString plainFile = programs_ + QLatin1String("/plain");
    write(plainFile, "#!/bin/sh\n", false);
    // What follows the enabled entry; none: no entry at all.
    const std::tuple<const char*, const char*, QString, Status> cases[] = {
        {"no entry", nullptr, executable_, Status::notRegistered},
        {"an entry", "", executable_, Status::enabled},
        {"hidden", "Hidden=true\n", executable_, Status::notRegistered},
        {"hidden, spaced", "Hidden = true\n", executable_, Status::notRegistered},
        {"turned off in GNOME", "X-GNOME-Autostart-enabled=false\n", executable_, Status::notRegistered},
        {"explicitly shown", "Hidden=false\nX-GNOME-Autostart-enabled=true\n", executable_, Status::enabled},
        {"hidden in another group", "[Desktop Action quit]\nHidden=true\n", executable_, Status::enabled},
        {"program missing", "", programs_ + QLatin1String("/missing"), Status::notFound},
        {"program not executable", "", plainFile, Status::notFound},
        {"program a folder", nullptr, programs_, Status::notFound},
    };
    for (const auto& [what, extra, executable, expected] : cases) {
        QFile::remove(entry_);
        if (extra != nullptr) {
            write(entry_, enabledEntry + std::string(extra), false);
        }
        EXPECT_EQ(LoginItem(entry_, executable).status(), expected) << what;
    }
}

// GLib's launcher, as GNOME's session uses it, runs the program the entry names, quoted
// through both the desktop file's escapes and its quotes.
TEST_F(LoginItemTest, ADesktopLauncherRunsTheEntry) {
    const QString marker = programs_ + QLatin1String("/started");
    const QString executable = programs_ + QLatin1String(R"(/My "Apps" $HOME\bin `x`/fern hollow)");
    const std::string markerPath = marker.toStdString();
    write(executable,
          "#!/bin/sh\nprintf '%s' \"$0\" > '" + markerPath + ".new' && mv '" + markerPath + ".new' '" +
              markerPath + "'\n",
          true);
    // Turned off in the desktop's settings, turned on again here: the whole entry is rewritten.
    write(entry_, enabledEntry + "Hidden=true\n", false);
    ASSERT_EQ(LoginItem(entry_, executable).set(true), std::nullopt);
    EXPECT_EQ(LoginItem(entry_, executable).status(), Status::enabled);

    QProcess launcher;
    launcher.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry_});
    ASSERT_TRUE(launcher.waitForFinished(30'000));
    EXPECT_EQ(launcher.exitCode(), 0) << launcher.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10'000));
    EXPECT_EQ(test::readFile(markerPath), executable.toStdString());
}

// How the settings window shows a failure is its own test.
TEST_F(LoginItemTest, AMissingProgramIsToldAndGetsNoEntry) {
    EXPECT_EQ(LoginItem(entry_, programs_ + QLatin1String("/missing")).set(true),
              QStringLiteral("Could not find the Fernhollow program to start at login."));
    EXPECT_FALSE(QFile::exists(entry_));
}

} // namespace
