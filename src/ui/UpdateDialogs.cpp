#include "ui/UpdateDialogs.h"

#include "ui/Updater.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace fernhollow {
namespace {

QMessageBox* messageBox(QMessageBox::Icon icon, const QString& text) {
    auto* box = new QMessageBox(icon, QStringLiteral("Fernhollow"), text);
    box->setObjectName(QStringLiteral("updateResult"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void present(QMessageBox* box) {
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

void showUpdateResults(Updater& updater) {
    QObject::connect(&updater, &Updater::upToDate, &updater, [](const QString& version) {
        QMessageBox* box = messageBox(QMessageBox::Information, QStringLiteral("You're up to date."));
        box->setInformativeText(QStringLiteral("Fernhollow %1 is the newest version.").arg(version));
        present(box);
    });
    QObject::connect(
        &updater, &Updater::updateAvailable, &updater, [](const QString& version, const QUrl& page) {
            QMessageBox* box = messageBox(QMessageBox::Information,
                                          QStringLiteral("Fernhollow %1 is available.").arg(version));
            QPushButton* download = box->addButton(QStringLiteral("Download\u2026"), QMessageBox::AcceptRole);
            box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
            box->setDefaultButton(download);
            QObject::connect(box, &QMessageBox::buttonClicked, box,
                             [download, page](QAbstractButton* button) {
                                 if (button == download) {
                                     QDesktopServices::openUrl(page);
                                 }
                             });
            present(box);
        });
    QObject::connect(&updater, &Updater::checkFailed, &updater,
                     [](const QString& message) { present(messageBox(QMessageBox::Warning, message)); });
}

} // namespace fernhollow
