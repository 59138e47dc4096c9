#pragma once

#include <QColor>
#include <QImage>
#include <QQuickImageProvider>
#include <QString>

namespace fernhollow {

// A named symbol ("flame.fill") from the app's resources at `size` device pixels, in one
// colour. A name without a drawing gives a transparent image.
QImage renderSymbol(const QString& name, const QColor& color, QSize size);

// Serves "image://symbol/<name>/<rrggbb>" to the views, so QML can ask for a tinted symbol by
// name ("image://symbol/flame.fill/ff3b30").
class SymbolImageProvider final : public QQuickImageProvider {
public:
    SymbolImageProvider();
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

} // namespace fernhollow
