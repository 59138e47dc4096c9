#include "ui/PanelWindow.h"

#include "ui/PanelModel.h"
#include "ui/Views.h"

#include <QGuiApplication>
#include <QScreen>

namespace fernhollow {
namespace {

constexpr int screenMargin = 6;
constexpr qint64 reopenGuardMs = 400;

} // namespace

PanelWindow::PanelWindow(QQmlEngine& engine, PanelModel& model, QObject* parent)
    : QObject(parent), model_(model),
      view_(Views::createView(
          engine, QStringLiteral("MenuBarView"),
          {{QStringLiteral("panel"), QVariant::fromValue(static_cast<QObject*>(&model))}})) {
    view_->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    view_->setTitle(QStringLiteral("Fernhollow"));
    connect(view_.get(), &QWindow::activeChanged, this, [this] {
        if (!view_->isActive() && view_->isVisible()) {
            hiddenByFocusLoss_.start();
            hide();
        }
    });
}

PanelWindow::~PanelWindow() = default;

bool PanelWindow::isVisible() const {
    return view_->isVisible();
}

void PanelWindow::toggle(QRect anchor) {
    if (view_->isVisible()) {
        hide();
    } else if (!hiddenByFocusLoss_.isValid() || hiddenByFocusLoss_.elapsed() > reopenGuardMs) {
        show(anchor);
    }
}

void PanelWindow::show(QRect anchor) {
    model_.setShown(true);
    place(anchor);
    view_->show();
    view_->raise();
    view_->requestActivate();
}

void PanelWindow::hide() {
    view_->hide();
    model_.setShown(false);
}

// Below an icon in the top half of the screen, above one in the bottom half, kept on screen.
void PanelWindow::place(QRect anchor) {
    QScreen* screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen->availableGeometry();
    const QSize size = view_->size();
    QPoint at;
    if (anchor.isValid()) {
        const bool below = anchor.center().y() < area.center().y();
        at = QPoint(anchor.center().x() - size.width() / 2,
                    below ? anchor.bottom() + screenMargin : anchor.top() - screenMargin - size.height());
    } else {
        at = QPoint(area.right() - size.width() - screenMargin, area.top() + screenMargin);
    }
    at.setX(std::clamp(at.x(), area.left() + screenMargin,
                       std::max(area.left(), area.right() - size.width() - screenMargin)));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height())));
    view_->setScreen(screen);
    view_->setPosition(at);
}

} // namespace fernhollow
