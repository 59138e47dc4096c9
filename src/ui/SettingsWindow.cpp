#include "ui/SettingsWindow.h"

#include "ui/SettingsModel.h"
#include "ui/Views.h"

#include <QFileDialog>

namespace fernhollow {

SettingsWindow::SettingsWindow(QQmlEngine& engine, SettingsModel& model, QObject* parent)
    : QObject(parent), model_(model),
      view_(Views::createView(
          engine, QStringLiteral("SettingsView"),
          {{QStringLiteral("model"), QVariant::fromValue(static_cast<QObject*>(&model))}})) {
    view_->setTitle(QStringLiteral("Fernhollow Settings"));
    connect(&model_, &SettingsModel::doneRequested, view_.get(), &QWindow::hide);
    connect(&model_, &SettingsModel::sharedFolderChoiceRequested, this, &SettingsWindow::chooseSharedFolder);
}

// Opened without a nested event loop: the passes and the panel go on while the user looks.
void SettingsWindow::chooseSharedFolder() {
    auto* dialog = new QFileDialog(nullptr, QStringLiteral("Share usage through a folder"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Share"));
    if (const QString folder = model_.sharedFolder(); !folder.isEmpty()) {
        dialog->setDirectory(folder);
    }
    connect(dialog, &QFileDialog::fileSelected, &model_, &SettingsModel::setSharedFolder);
    dialog->open();
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
