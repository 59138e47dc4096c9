#include "ui/Views.h"

#include "ui/SymbolImages.h"

#include <QUrl>

namespace fernhollow::Views {

std::unique_ptr<QQmlEngine> createEngine() {
    auto engine = std::make_unique<QQmlEngine>();
    engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
    return engine;
}

std::unique_ptr<QQuickView> createView(QQmlEngine& engine, const QString& name,
                                       const QVariantMap& properties) {
    auto view = std::make_unique<QQuickView>(&engine, nullptr);
    view->setInitialProperties(properties);
    view->setResizeMode(QQuickView::SizeViewToRootObject);
    view->setSource(QUrl(QStringLiteral("qrc:/fernhollow/qml/%1.qml").arg(name)));
    Q_ASSERT_X(view->status() == QQuickView::Ready, "Views::createView", qPrintable(name));
    return view;
}

} // namespace fernhollow::Views
