#include "ui/WelcomePrompt.h"

#include "support/MemoryPreferences.h"
#include "support/TempTree.h"
#include "ui/LoginItem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace fernhollow {
namespace {

QMessageBox* shownPrompt() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("welcomePrompt") && widget->isVisible()) {
            return qobject_cast<QMessageBox*>(widget);
        }
    }
    return nullptr;
}

TEST(WelcomePrompt, GreetsOnceRemembersFirstAndOffersLaunchAtLogin) {
    test::TempTree home;
    test::MemoryPreferences preferences;
    LoginItem loginItem(QString::fromStdString((home / "autostart/fernhollow.desktop").string()),
                        QCoreApplication::applicationFilePath());

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(WelcomePrompt::maybeShow(preferences, loginItem));
    // Remembered before anything shows, so quitting during the prompt never brings it back.
    EXPECT_EQ(preferences.values.at(QStringLiteral("fernhollow.hasSeenWelcome")), QJsonValue(true));
    EXPECT_EQ(shownPrompt(), nullptr);

    ASSERT_TRUE(QTest::qWaitFor([] { return shownPrompt() != nullptr; }, 5000));
    EXPECT_GE(clock.elapsed(), 550);
    QMessageBox* prompt = shownPrompt();
    // A modal greeting would keep clicks on the tray icon from opening the panel.
    EXPECT_EQ(prompt->windowModality(), Qt::NonModal);
    EXPECT_EQ(prompt->text(), "Fernhollow is running \u2197");
    EXPECT_EQ(
        prompt->informativeText(),
        "Look for the Fernhollow figure in your menubar (top-right). Click it anytime to see the real-time, "
        "API-equivalent value of your AI usage.\n\nWant it to start automatically every time you log in?");
    ASSERT_EQ(prompt->buttons().size(), 2);
    EXPECT_EQ(prompt->defaultButton()->text(), "Launch at login");
    prompt->defaultButton()->click();
    EXPECT_EQ(loginItem.status(), LoginItem::Status::enabled);

    EXPECT_FALSE(WelcomePrompt::maybeShow(preferences, loginItem));
}

} // namespace
} // namespace fernhollow
