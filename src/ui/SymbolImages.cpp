#include "ui/SymbolImages.h"

#include <QPainter>
#include <QSvgRenderer>

namespace fernhollow {

QImage renderSymbol(const QString& name, const QColor& color, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1.svg").arg(name));
    if (!renderer.isValid()) {
        return image;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    // The drawings are black on transparent; only their coverage is kept, in the tint.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const qsizetype slash = id.lastIndexOf(u'/');
    const QString name = slash < 0 ? id : id.left(slash);
    // The colour comes without its "#", which would start a URL fragment.
    const QColor color(slash < 0 ? QStringLiteral("black") : u'#' + id.mid(slash + 1));
    const QSize rendered =
        requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(32, 32);
    if (size != nullptr) {
        *size = rendered;
    }
    return renderSymbol(name, color, rendered);
}

} // namespace fernhollow
