#pragma once

#include <QQmlEngine>
#include <QQuickView>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace fernhollow::Views {

// The engine every view shares, with the symbol images registered.
std::unique_ptr<QQmlEngine> createEngine();

// A window showing one of the app's QML views ("MenuBarView"), sized to its content, with the
// given objects set as the view's required properties. Errors loading the view are fatal in
// development only: a release build shows an empty window rather than crash.
std::unique_ptr<QQuickView> createView(QQmlEngine& engine, const QString& name,
                                       const QVariantMap& properties);

} // namespace fernhollow::Views
