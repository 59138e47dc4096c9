#include "ui/NoTrayNotice.h"

#include "platform/settings/PreferencesStore.h"
#include "platform/system/Notifications.h"

#include <QCoreApplication>

namespace fernhollow {

bool NoTrayNotice::maybeShow(PreferencesStore& preferences) {
    const QString key = QString::fromLatin1(seenKey);
    if (const auto seen = preferences.value(key); seen && seen->toBool(false)) {
        return false;
    }
    preferences.setValue(key, true);
    QCoro::connect(Notifications::fire(QString::fromUtf8(title), QString::fromUtf8(body), false),
                   QCoreApplication::instance(), [] {});
    return true;
}

} // namespace fernhollow
