#include "ui/WelcomePrompt.h"

#include "platform/settings/PreferencesStore.h"
#include "ui/LoginItem.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace fernhollow {

bool WelcomePrompt::maybeShow(PreferencesStore& preferences, LoginItem& loginItem) {
    const QString key = QString::fromLatin1(seenKey);
    if (const auto seen = preferences.value(key); seen && seen->toBool(false)) {
        return false;
    }
    preferences.setValue(key, true);

    QTimer::singleShot(delayMs, [&loginItem] {
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Fernhollow"),
                                    QStringLiteral("Fernhollow is running \u2197"));
        box->setObjectName(QStringLiteral("welcomePrompt"));
        // A message box blocks every other window of the app by default, the tray icon
        // included: a click on it while the greeting is up must still open the panel.
        box->setWindowModality(Qt::NonModal);
        box->setInformativeText(QStringLiteral(
            "Look for the Fernhollow figure in your menubar (top-right). Click it anytime to see "
            "the real-time, API-equivalent value of your AI usage.\n\n"
            "Want it to start automatically every time you log in?"));
        QPushButton* launch = box->addButton(QStringLiteral("Launch at login"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Not now"), QMessageBox::RejectRole);
        box->setDefaultButton(launch);
        box->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(box, &QMessageBox::buttonClicked, box,
                         [&loginItem, launch](QAbstractButton* button) {
                             if (button == launch) {
                                 // A failure shows in the settings window the next time it opens.
                                 static_cast<void>(loginItem.set(true));
                             }
                         });
        box->show();
        box->raise();
        box->activateWindow();
    });
    return true;
}

} // namespace fernhollow
