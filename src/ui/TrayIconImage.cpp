#include "ui/TrayIconImage.h"

#include "core/common/FixedDecimal.h"
#include "core/texts/PanelTexts.h"
#include "ui/SymbolImages.h"
#include "ui/Tints.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace fernhollow {

QString trayAmountText(double todayUSD) {
    if (std::abs(todayUSD) < 10.0) {
        return QString::fromStdString(PanelTexts::dollars(todayUSD));
    }
    if (std::abs(todayUSD) < 1000.0) {
        return QString::fromStdString("$" + fixedDecimal(std::trunc(todayUSD), 0));
    }
    return QString::fromStdString("$" + fixedDecimal(std::trunc(todayUSD / 100.0) / 10.0, 1) + "k");
}

QImage trayIconImage(BudgetStatus status, double todayUSD, int size, const QColor& textColor) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const PanelTexts::StatusSymbol symbol = PanelTexts::statusSymbol(status);
    const int symbolSize = size * 45 / 100;
    painter.drawImage((size - symbolSize) / 2, 0,
                      renderSymbol(QString::fromStdString(symbol.icon), tintColor(symbol.tint, textColor),
                                   QSize(symbolSize, symbolSize)));

    const QString amount = trayAmountText(todayUSD);
    QFont font;
    font.setBold(true);
    font.setStretch(QFont::Condensed);
    const QRectF textArea(0, symbolSize, size, size - symbolSize);
    // The largest size at which the amount fits the square's width and the space left under
    // the symbol.
    for (int pixels = static_cast<int>(textArea.height()); pixels >= 4; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetricsF metrics(font);
        if (metrics.horizontalAdvance(amount) <= size && metrics.height() <= textArea.height() + 2.0) {
            break;
        }
    }
    painter.setFont(font);
    painter.setPen(textColor);
    painter.drawText(textArea, Qt::AlignHCenter | Qt::AlignVCenter, amount);
    return image;
}

} // namespace fernhollow
