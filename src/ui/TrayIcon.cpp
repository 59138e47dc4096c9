#include "ui/TrayIcon.h"

#include "core/texts/PanelTexts.h"
#include "platform/store/UsageStore.h"
#include "ui/TrayIconImage.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>

namespace fernhollow {
namespace {

// Drawn at the sizes trays ask for, so none has to scale a small image up.
constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

TrayIcon::TrayIcon(UsageStore& store, QObject* parent) : QObject(parent), store_(store) {
    connect(&store_, &UsageStore::recordsChanged, this, &TrayIcon::redraw);
    connect(&store_, &UsageStore::statusChanged, this, &TrayIcon::redraw);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            emit clicked();
        }
    });
    redraw();
}

void TrayIcon::show() {
    icon_.show();
}

QRect TrayIcon::geometry() const {
    return icon_.geometry();
}

void TrayIcon::redraw() {
    const double today = store_.snapshot().todayUSD;
    const QString amount = QString::fromStdString(PanelTexts::dollars(today));
    if (drawn_ && amount == drawnAmount_ && store_.status() == drawnStatus_) {
        return;
    }
    drawn_ = true;
    drawnAmount_ = amount;
    drawnStatus_ = store_.status();

    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    QIcon icon;
    for (const int size : iconSizes) {
        icon.addPixmap(QPixmap::fromImage(trayIconImage(drawnStatus_, today, size, text)));
    }
    icon_.setIcon(icon);
    icon_.setToolTip(amount);
}

} // namespace fernhollow
