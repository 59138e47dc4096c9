#include "ui/SettingsWindow.h"

#include "ui/SettingsModel.h"
#include "ui/Views.h"

namespace fernhollow {

SettingsWindow::SettingsWindow(QQmlEngine& engine, SettingsModel& model, QObject* parent)
    : QObject(parent), model_(model),
      view_(Views::createView(
          engine, QStringLiteral("SettingsView"),
          {{QStringLiteral("model"), QVariant::fromValue(static_cast<QObject*>(&model))}})) {
    view_->setTitle(QStringLiteral("Fernhollow Settings"));
    connect(&model_, &SettingsModel::doneRequested, view_.get(), &QWindow::hide);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::open() {
    if (!view_->isVisible()) {
        model_.appear();
    }
    view_->show();
    view_->raise();
    view_->requestActivate();
}

} // namespace fernhollow
