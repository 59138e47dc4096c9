#pragma once

#include "core/figures/BudgetStatus.h"

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

namespace fernhollow {

class UsageStore;

// The tray's view of the store: an icon drawn from today's spend and the budget status,
// redrawn only when either changes, with the exact amount as its tooltip. A click asks for
// the panel.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(UsageStore& store, QObject* parent = nullptr);

    void show();
    // Where the icon sits on screen; invalid when the tray does not say.
    QRect geometry() const;
    QString toolTip() const { return icon_.toolTip(); }

signals:
    void clicked();

private:
    void redraw();

    UsageStore& store_;
    QSystemTrayIcon icon_;
    QString drawnAmount_;
    BudgetStatus drawnStatus_ = BudgetStatus::ok;
    bool drawn_ = false;
};

} // namespace fernhollow
