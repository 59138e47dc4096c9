#pragma once

#include "core/figures/BudgetStatus.h"

#include <QColor>
#include <QImage>
#include <QString>

namespace fernhollow {

// Trays show a square icon, not text, so the label is drawn: the status symbol in its tint on
// top and today's spend under it, as large as the square allows. Amounts too wide to stay
// legible lose their cents ("$147") or go to thousands ("$1.2k"); the tooltip keeps the exact
// figure. `size` is in device pixels.
QImage trayIconImage(BudgetStatus status, double todayUSD, int size, const QColor& textColor);

// The amount as the tray icon shows it.
QString trayAmountText(double todayUSD);

} // namespace fernhollow
